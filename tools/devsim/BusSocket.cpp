#include "BusSocket.h"

#include <QHostAddress>
#include <QLocalSocket>
#include <QTcpSocket>

namespace PelkPlus {

void hangUpBusSocket(QIODevice* socket)
{
    if (auto* local = qobject_cast<QLocalSocket*>(socket)) {
        local->flush();
        local->disconnectFromServer();
    } else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket)) {
        tcp->flush();
        tcp->disconnectFromHost();
    }
}

void abortBusSocket(QIODevice* socket)
{
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->abort();
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->abort();
}

void setBusSocketReadBuffer(QIODevice* socket, qint64 size)
{
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->setReadBufferSize(size);
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket)) {
        tcp->setReadBufferSize(size);
        // The system's own buffer too: a device that stops taking reports is felt by the host's
        // write as soon as on a Unix socket, not after the megabyte a TCP window may hold.
        tcp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(size));
    }
}

bool parseTcpBusName(const QString& name, QString* host, quint16* port)
{
    if (!name.startsWith(QLatin1String("tcp:")))
        return false;
    const int colon = name.lastIndexOf(QLatin1Char(':'));
    if (colon <= 4)
        return false;
    bool ok = false;
    const uint number = name.mid(colon + 1).toUInt(&ok);
    const QHostAddress address(name.mid(4, colon - 4));
    if (!ok || number > 65535 || !address.isLoopback())
        return false;
    *host = address.toString();
    *port = quint16(number);
    return true;
}

} // namespace PelkPlus
