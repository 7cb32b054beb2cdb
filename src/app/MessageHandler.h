#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

namespace PelkPlus {

// Writes every message, whatever its type, as one line on standard output and flushes it; the
// same message goes to the log file (LogFile) once that has been started, stamped there with the
// time and level.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

} // namespace PelkPlus
