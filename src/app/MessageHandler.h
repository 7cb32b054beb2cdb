#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

namespace PelkPlus {

// Writes every message, whatever its type, as one line on standard output and flushes it.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

} // namespace PelkPlus
