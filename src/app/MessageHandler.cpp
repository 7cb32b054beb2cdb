#include "app/MessageHandler.h"

#include <QString>

#include <cstdio>

namespace PelkPlus {

void messageHandler(QtMsgType, const QMessageLogContext&, const QString& message)
{
    const QByteArray text = message.toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace PelkPlus
