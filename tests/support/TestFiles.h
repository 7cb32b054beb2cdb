#pragma once

#include <QByteArray>
#include <QString>

class QTemporaryDir;

namespace PelkPlus {

// Writes the bytes to a file of the name in the directory; its path, or empty when it cannot be
// written whole.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& contents);

} // namespace PelkPlus
