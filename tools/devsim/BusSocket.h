#pragma once

#include <QString>

class QIODevice;

namespace PelkPlus {

// A bus connection is a local socket (a Unix socket's path) or a TCP socket on loopback
// ("tcp:127.0.0.1:PORT", for a host that has no Unix sockets): the bus reads and writes either as
// a QIODevice, and these do what the two kinds name differently.

// Closes once what was written has gone (pushed out now, not on the next turn of the loop).
void hangUpBusSocket(QIODevice* socket);
// Closes at once, dropping whatever is queued, as a pulled cable does.
void abortBusSocket(QIODevice* socket);
void setBusSocketReadBuffer(QIODevice* socket, qint64 size);

// The host and port of a "tcp:HOST:PORT" bus name; false for a socket path. Only loopback hosts
// are taken: the bus is never served to, or sought on, another machine.
bool parseTcpBusName(const QString& name, QString* host, quint16* port);

} // namespace PelkPlus
