#include "app/MessageHandler.h"

#include "app/LogFile.h"

#include <QString>

#include <cstdio>

namespace PelkPlus {

void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // The line end goes out in the same write as the text, so that lines logged from different
    // threads at once never run together.
    const QByteArray line = message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    LogFile::write(type, message);
}

} // namespace PelkPlus
