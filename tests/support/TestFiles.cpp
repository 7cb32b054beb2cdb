#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

namespace PelkPlus {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return path;
}

} // namespace PelkPlus
