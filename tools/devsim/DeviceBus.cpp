#include "DeviceBus.h"

#include "BusDevices.h"
#include "BusReplay.h"
#include "BusSocket.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace PelkPlus {

namespace {
constexpr int reportSize = 65;
// Enough to hold a few reports; a device that reads slowly then makes the host's writes block.
constexpr qint64 pacedReadBuffer = 4 * reportSize;
} // namespace

struct DeviceBus::Client
{
    QIODevice* socket = nullptr;
    int device = -1;       // index once opened
    int replayDevice = -1; // the recording's handle once opened in a replay
    int interfaceIndex = 0;
    QTimer* paceTimer = nullptr;
    qint64 lastFrame = -1; // the millisecond frame of the last report a paced device took
};

DeviceBus::DeviceBus(QObject* parent)
    : QObject(parent)
    , server(new QLocalServer(this))
    , tcpServer(new QTcpServer(this))
    , devices(new BusDevices(this))
    , replay(new BusReplay(this))
{
    connect(server, &QLocalServer::newConnection, this, &DeviceBus::onNewConnection);
    connect(tcpServer, &QTcpServer::newConnection, this, &DeviceBus::onNewConnection);
    connect(devices, &BusDevices::event, this, &DeviceBus::event);
    connect(devices, &BusDevices::unplugged, this, &DeviceBus::dropConnections);
    connect(replay, &BusReplay::event, this, &DeviceBus::event);
    connect(replay, &BusReplay::mismatch, this, &DeviceBus::replayMismatch);
}

DeviceBus::~DeviceBus()
{
    for (auto& client : clients)
        client->socket->disconnect(this);
}

bool DeviceBus::listen(const QString& socketPath)
{
    QString host;
    quint16 port = 0;
    if (parseTcpBusName(socketPath, &host, &port)) {
        if (!tcpServer->listen(QHostAddress(host), port)) {
            say(QStringLiteral("cannot listen on %1: %2").arg(socketPath, tcpServer->errorString()));
            return false;
        }
        say(QStringLiteral("listening on %1").arg(this->socketPath()));
        return true;
    }
    if (socketPath.startsWith(QLatin1String("tcp:"))) {
        say(QStringLiteral("cannot listen on %1: not a loopback address and port").arg(socketPath));
        return false;
    }
    QLocalServer::removeServer(socketPath);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath)) {
        say(QStringLiteral("cannot listen on %1: %2").arg(socketPath, server->errorString()));
        return false;
    }
    say(QStringLiteral("listening on %1").arg(server->fullServerName()));
    return true;
}

QString DeviceBus::socketPath() const
{
    if (tcpServer->isListening())
        return QStringLiteral("tcp:%1:%2")
            .arg(tcpServer->serverAddress().toString())
            .arg(tcpServer->serverPort());
    return server->fullServerName();
}

QIODevice* DeviceBus::nextConnection()
{
    if (QLocalSocket* local = server->nextPendingConnection())
        return local;
    if (QTcpSocket* tcp = tcpServer->nextPendingConnection()) {
        // Reports are small and each waits for its answer: none may sit in a send buffer.
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return tcp;
    }
    return nullptr;
}

int DeviceBus::addDevice(const SimulatedDevice::Settings& settings)
{
    return devices->add(settings);
}

int DeviceBus::deviceCount() const
{
    return devices->count();
}

SimulatedDevice& DeviceBus::device(int index)
{
    return devices->device(index);
}

bool DeviceBus::isPlugged(int index) const
{
    return devices->isPlugged(index);
}

void DeviceBus::plug(int index)
{
    devices->plug(index);
}

void DeviceBus::unplug(int index)
{
    devices->unplug(index);
}

void DeviceBus::powerCycle(int index)
{
    devices->powerCycle(index);
}

void DeviceBus::setReplay(ReplaySession* session)
{
    replay->setSession(session);
}

void DeviceBus::dropConnections(int index)
{
    for (size_t i = 0; i < clients.size();) {
        Client& client = *clients[i];
        if (client.device == index) {
            QIODevice* socket = client.socket;
            socket->disconnect(this);
            abortBusSocket(socket);
            socket->deleteLater();
            clients.erase(clients.begin() + long(i));
        } else {
            ++i;
        }
    }
}

void DeviceBus::say(const QString& line)
{
    emit event(line);
}

DeviceBus::Client* DeviceBus::clientFor(QIODevice* socket)
{
    for (auto& client : clients) {
        if (client->socket == socket)
            return client.get();
    }
    return nullptr;
}

void DeviceBus::removeClient(QIODevice* socket)
{
    for (size_t i = 0; i < clients.size(); ++i) {
        if (clients[i]->socket == socket) {
            if (clients[i]->replayDevice >= 0)
                replay->hostClosed(clients[i]->replayDevice);
            clients.erase(clients.begin() + long(i));
            break;
        }
    }
    socket->deleteLater();
}

void DeviceBus::onNewConnection()
{
    while (QIODevice* socket = nextConnection()) {
        auto client = std::make_unique<Client>();
        client->socket = socket;
        clients.push_back(std::move(client));
        connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
        const auto gone = [this, socket] { removeClient(socket); };
        if (auto* local = qobject_cast<QLocalSocket*>(socket))
            connect(local, &QLocalSocket::disconnected, this, gone);
        else if (auto* tcp = qobject_cast<QTcpSocket*>(socket))
            connect(tcp, &QTcpSocket::disconnected, this, gone);
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void DeviceBus::onReadyRead(QIODevice* socket)
{
    Client* client = clientFor(socket);
    if (!client)
        return;
    if (client->device < 0 && client->replayDevice < 0) {
        if (!socket->canReadLine())
            return;
        const QByteArray line = socket->readLine().trimmed();
        handleRequestLine(*client, line);
        return;
    }
    pump(*client);
}

void DeviceBus::handleRequestLine(Client& client, const QByteArray& line)
{
    QIODevice* socket = client.socket;
    if (replay->answers(line)) {
        // A refused request may have closed the connection, and the client with it.
        const int recorded = replay->answer(socket, line);
        if (recorded >= 0) {
            client.replayDevice = recorded;
            pump(client);
        }
        return;
    }
    if (line == "ENUM") {
        socket->write(devices->enumeration());
        hangUpBusSocket(socket);
        return;
    }
    if (line.startsWith("OPEN ")) {
        openDevice(client, QString::fromUtf8(line.mid(5)));
        return;
    }
    socket->write("ERR unknown request\n");
    hangUpBusSocket(socket);
}

void DeviceBus::openDevice(Client& client, const QString& path)
{
    QIODevice* socket = client.socket;
    int index = -1;
    int interfaceIndex = 0;
    if (!devices->find(path, &index, &interfaceIndex)) {
        socket->write("ERR no such device\n");
        hangUpBusSocket(socket);
        say(QStringLiteral("open of %1 refused: no such device").arg(path));
        return;
    }
    if (devices->refusesOpen(index)) {
        socket->write("ERR permission denied\n");
        hangUpBusSocket(socket);
        say(QStringLiteral("open of %1 refused: permission denied").arg(path));
        return;
    }
    SimulatedDevice& device = devices->device(index);
    client.device = index;
    client.interfaceIndex = interfaceIndex;
    if (interfaceIndex == 0)
        device.connectionOpened();
    socket->write("OK\n");
    say(QStringLiteral("%1: opened").arg(path));
    if (device.settings().paced) {
        // A full-speed interrupt endpoint takes one report per millisecond.
        setBusSocketReadBuffer(socket, pacedReadBuffer);
        client.paceTimer = new QTimer(socket);
        client.paceTimer->setTimerType(Qt::PreciseTimer);
        client.paceTimer->setInterval(1);
        connect(client.paceTimer, &QTimer::timeout, this, [this, socket] {
            if (Client* c = clientFor(socket))
                pump(*c);
        });
        client.paceTimer->start();
    }
    pump(client);
}

void DeviceBus::pump(Client& client)
{
    QIODevice* socket = client.socket;
    const bool paced = client.paceTimer != nullptr;
    // Paced connections take one report per millisecond frame, whether the timer's tick or the
    // socket's readyRead asks; a tick that came late takes the frame it missed, but no more.
    // Others take everything that has arrived.
    int budget = 1 << 30;
    int framesPerReport = 1;
    if (paced) {
        if (client.device >= 0)
            framesPerReport = qMax(1, devices->device(client.device).settings().reportMs);
        const qint64 frame = devices->clock().nsecsElapsed() / 1000000;
        client.lastFrame = qMax(client.lastFrame, frame - 2 * framesPerReport);
        budget = int((frame - client.lastFrame) / framesPerReport);
    }
    while (budget-- > 0 && socket->bytesAvailable() >= reportSize) {
        if (client.device >= 0 && client.interfaceIndex == 0) {
            const SimulatedDevice& device = devices->device(client.device);
            const int limit = device.settings().stopTakingAfterPacket;
            if (limit >= 0 && device.packetsReceived() >= limit) {
                // Whatever waits here stays; the socket's buffers fill and the host's writes wait.
                setBusSocketReadBuffer(socket, reportSize);
                return;
            }
        }
        if (paced)
            client.lastFrame += framesPerReport;
        const QByteArray report = socket->read(reportSize);
        processReport(client, report);
        if (!clientFor(socket))
            return; // the report made the device leave the bus
    }
}

void DeviceBus::processReport(Client& client, const QByteArray& report)
{
    if (client.replayDevice >= 0) {
        replay->hostWrote(client.socket, client.replayDevice, report);
        return;
    }
    if (client.interfaceIndex != 0)
        return; // only the first interface speaks the update protocol
    const int index = client.device;
    QVector<QByteArray> replies;
    const SimulatedDevice::Request request
        = devices->device(index).receive(report, devices->clock().elapsed(), replies);
    for (const QByteArray& reply : replies)
        client.socket->write(reply);
    devices->handleRequest(index, request);
    // A copy runs, so that the observer may replace itself.
    if (const auto observer = reportObserver)
        observer(index, report);
}

} // namespace PelkPlus
