#include "DeviceBus.h"

#include "ReplaySession.h"

#include "device/FirmwareVersion.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace PelkPlus {

namespace {
constexpr int reportSize = 65;
// Enough to hold a few reports; a device that reads slowly then makes the host's writes block.
constexpr qint64 pacedReadBuffer = 4 * reportSize;
} // namespace

struct DeviceBus::Entry
{
    SimulatedDevice device;
    bool plugged = true;
    // Bus time at which the device last appeared.
    qint64 appearedAtMs = 0;
    QTimer* returnTimer = nullptr;
};

struct DeviceBus::Client
{
    QLocalSocket* socket = nullptr;
    int device = -1;       // index once opened
    int replayDevice = -1; // the recording's handle once opened in a replay
    int interfaceIndex = 0;
    QTimer* paceTimer = nullptr;
    qint64 lastFrame = -1; // the millisecond frame of the last report a paced device took
};

DeviceBus::DeviceBus(QObject* parent)
    : QObject(parent)
    , server(new QLocalServer(this))
    , idleTimer(new QTimer(this))
{
    clock.start();
    connect(server, &QLocalServer::newConnection, this, &DeviceBus::onNewConnection);
    idleTimer->setInterval(100);
    connect(idleTimer, &QTimer::timeout, this, &DeviceBus::tickIdle);
    idleTimer->start();
}

DeviceBus::~DeviceBus()
{
    for (auto& client : clients)
        client->socket->disconnect(this);
}

bool DeviceBus::listen(const QString& socketPath)
{
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
    return server->fullServerName();
}

int DeviceBus::addDevice(const SimulatedDevice::Settings& settings)
{
    auto entry = std::make_unique<Entry>();
    entry->device = SimulatedDevice(settings);
    entry->device.setLog([this](const QString& line) { say(line); });
    entry->appearedAtMs = clock.elapsed();
    entry->returnTimer = new QTimer(this);
    entry->returnTimer->setSingleShot(true);
    const int index = int(devices.size());
    connect(entry->returnTimer, &QTimer::timeout, this, [this, index] {
        Entry& e = *devices[size_t(index)];
        e.device.restarted();
        plug(index);
    });
    devices.push_back(std::move(entry));
    say(QStringLiteral("device %1 added: %2 at %3, serial %4")
            .arg(index)
            .arg(QLatin1String(modelName(settings.model)), settings.path, settings.serialNumber));
    return index;
}

SimulatedDevice& DeviceBus::device(int index)
{
    return devices.at(size_t(index))->device;
}

bool DeviceBus::isPlugged(int index) const
{
    return devices.at(size_t(index))->plugged;
}

void DeviceBus::plug(int index)
{
    Entry& entry = *devices.at(size_t(index));
    entry.returnTimer->stop();
    if (entry.plugged)
        return;
    entry.plugged = true;
    entry.appearedAtMs = clock.elapsed();
    const SimulatedDevice::Settings& s = entry.device.settings();
    say(QStringLiteral("%1: plugged in (MCU %2, DSP %3, Styles 0x%4, Ensemble Audio 0x%5)")
            .arg(s.path)
            .arg(FirmwareVersion::fromWord(s.mcuWord).toString(),
                FirmwareVersion::fromWord(s.dspWord).toString())
            .arg(s.stylesVersion, 0, 16)
            .arg(s.ensembleVersion, 0, 16));
}

void DeviceBus::unplug(int index)
{
    Entry& entry = *devices.at(size_t(index));
    entry.returnTimer->stop();
    if (!entry.plugged)
        return;
    entry.plugged = false;
    dropConnections(index);
    say(QStringLiteral("%1: unplugged").arg(entry.device.settings().path));
}

void DeviceBus::powerCycle(int index)
{
    Entry& entry = *devices.at(size_t(index));
    say(QStringLiteral("%1: power cycle").arg(entry.device.settings().path));
    unplug(index);
    entry.returnTimer->start(entry.device.settings().rebootMs);
}

void DeviceBus::dropConnections(int index)
{
    for (size_t i = 0; i < clients.size();) {
        Client& client = *clients[i];
        if (client.device == index) {
            QLocalSocket* socket = client.socket;
            socket->disconnect(this);
            socket->abort();
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

DeviceBus::Client* DeviceBus::clientFor(QLocalSocket* socket)
{
    for (auto& client : clients) {
        if (client->socket == socket)
            return client.get();
    }
    return nullptr;
}

void DeviceBus::removeClient(QLocalSocket* socket)
{
    for (size_t i = 0; i < clients.size(); ++i) {
        if (clients[i]->socket == socket) {
            if (replay && clients[i]->replayDevice >= 0) {
                replay->hostClosed(clients[i]->replayDevice);
                announceReplayEnd();
            }
            clients.erase(clients.begin() + long(i));
            break;
        }
    }
    socket->deleteLater();
}

void DeviceBus::onNewConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        auto client = std::make_unique<Client>();
        client->socket = socket;
        clients.push_back(std::move(client));
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { removeClient(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void DeviceBus::onReadyRead(QLocalSocket* socket)
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
    QLocalSocket* socket = client.socket;
    if (replay && line == "ENUM") {
        socket->write(replay->enumeration() + '\n');
        socket->disconnectFromServer();
        return;
    }
    if (replay && line.startsWith("OPEN ")) {
        const QString path = QString::fromUtf8(line.mid(5));
        QByteArray refusal;
        QString mismatch;
        const int recorded = replay->open(path, &refusal, &mismatch);
        if (recorded < 0) {
            socket->write(refusal);
            socket->disconnectFromServer();
            say(QStringLiteral("open of %1 refused as recorded: %2")
                    .arg(path, QString::fromLatin1(refusal.trimmed())));
            if (!mismatch.isEmpty()) {
                replayFailed = true;
                say(QStringLiteral("replay: ") + mismatch);
                emit replayMismatch();
            }
            return;
        }
        client.replayDevice = recorded;
        socket->write("OK\n");
        say(QStringLiteral("%1: opened (recorded device %2)").arg(path).arg(recorded));
        pump(client);
        return;
    }
    if (line == "ENUM") {
        QByteArray answer;
        for (const auto& entry : devices) {
            if (!entry->plugged)
                continue;
            const SimulatedDevice::Settings& s = entry->device.settings();
            for (int i = 0; i < s.interfaces; ++i) {
                const QString path = i == 0 ? s.path : QStringLiteral("%1:%2").arg(s.path).arg(i);
                const QByteArray line = path.toUtf8() + '\t'
                    + QByteArray::number(pelkVendorId, 16).rightJustified(4, '0') + '\t'
                    + QByteArray::number(productIdForModel(s.model), 16).rightJustified(4, '0') + '\t'
                    + s.serialNumber.toUtf8() + '\n';
                for (int copy = 0; copy < qMax(1, s.duplicateEntries); ++copy)
                    answer += line;
            }
        }
        answer += '\n';
        socket->write(answer);
        socket->disconnectFromServer();
        return;
    }
    if (line.startsWith("OPEN ")) {
        const QString path = QString::fromUtf8(line.mid(5));
        for (size_t index = 0; index < devices.size(); ++index) {
            Entry& entry = *devices[index];
            const SimulatedDevice::Settings& s = entry.device.settings();
            for (int i = 0; i < s.interfaces && entry.plugged; ++i) {
                const QString candidate = i == 0 ? s.path : QStringLiteral("%1:%2").arg(s.path).arg(i);
                if (candidate != path)
                    continue;
                if (clock.elapsed() - entry.appearedAtMs < s.refuseOpenMs) {
                    socket->write("ERR permission denied\n");
                    socket->disconnectFromServer();
                    say(QStringLiteral("open of %1 refused: permission denied").arg(path));
                    return;
                }
                client.device = int(index);
                client.interfaceIndex = i;
                if (i == 0)
                    entry.device.connectionOpened();
                socket->write("OK\n");
                say(QStringLiteral("%1: opened").arg(path));
                if (s.paced) {
                    // A full-speed interrupt endpoint takes one report per millisecond.
                    socket->setReadBufferSize(pacedReadBuffer);
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
                return;
            }
        }
        socket->write("ERR no such device\n");
        socket->disconnectFromServer();
        say(QStringLiteral("open of %1 refused: no such device").arg(path));
        return;
    }
    socket->write("ERR unknown request\n");
    socket->disconnectFromServer();
}

void DeviceBus::pump(Client& client)
{
    QLocalSocket* socket = client.socket;
    const bool paced = client.paceTimer != nullptr;
    // Paced connections take one report per millisecond frame, whether the timer's tick or the
    // socket's readyRead asks; a tick that came late takes the frame it missed, but no more.
    // Others take everything that has arrived.
    int budget = 1 << 30;
    if (paced) {
        const qint64 frame = clock.nsecsElapsed() / 1000000;
        client.lastFrame = qMax(client.lastFrame, frame - 2);
        budget = int(frame - client.lastFrame);
    }
    while (budget-- > 0 && socket->bytesAvailable() >= reportSize) {
        if (client.device >= 0 && client.interfaceIndex == 0) {
            const SimulatedDevice& device = devices[size_t(client.device)]->device;
            const int limit = device.settings().stopTakingAfterPacket;
            if (limit >= 0 && device.packetsReceived() >= limit) {
                // Whatever waits here stays; the socket's buffers fill and the host's writes wait.
                socket->setReadBufferSize(reportSize);
                return;
            }
        }
        if (paced)
            ++client.lastFrame;
        const QByteArray report = socket->read(reportSize);
        processReport(client, report);
        if (!clientFor(socket))
            return; // the report made the device leave the bus
    }
}

void DeviceBus::replayReport(Client& client, const QByteArray& report)
{
    const ReplaySession::Answer answer = replay->hostWrote(client.replayDevice, report);
    if (!answer.mismatch.isEmpty()) {
        replayFailed = true;
        say(QStringLiteral("replay: ") + answer.mismatch);
        emit replayMismatch();
        client.socket->abort();
        return;
    }
    for (const QByteArray& reply : answer.replies)
        client.socket->write(reply);
    if (answer.hangUp) {
        say(QStringLiteral("recorded device %1: hung up, as recorded").arg(client.replayDevice));
        client.socket->flush();
        client.socket->disconnectFromServer();
    }
    announceReplayEnd();
}

void DeviceBus::announceReplayEnd()
{
    if (!replay || replayAnnounced || replayFailed || !replay->finished())
        return;
    replayAnnounced = true;
    say(QStringLiteral("replay: the recording played to its end, %1 of %2 reports as recorded")
            .arg(replay->writesMatched())
            .arg(replay->writeCount()));
}

void DeviceBus::processReport(Client& client, const QByteArray& report)
{
    if (client.replayDevice >= 0) {
        replayReport(client, report);
        return;
    }
    if (client.interfaceIndex != 0)
        return; // only the first interface speaks the update protocol
    const int index = client.device;
    Entry& entry = *devices[size_t(index)];
    QVector<QByteArray> replies;
    const SimulatedDevice::Request request = entry.device.receive(report, clock.elapsed(), replies);
    for (const QByteArray& reply : replies)
        client.socket->write(reply);
    handleRequest(index, request);
    // A copy runs, so that the observer may replace itself.
    if (const auto observer = reportObserver)
        observer(index, report);
}

void DeviceBus::handleRequest(int index, SimulatedDevice::Request request)
{
    Entry& entry = *devices[size_t(index)];
    const SimulatedDevice::Settings& s = entry.device.settings();
    if (request == SimulatedDevice::Request::Unplug) {
        unplug(index);
    } else if (request == SimulatedDevice::Request::Reboot) {
        say(QStringLiteral("%1: rebooting").arg(s.path));
        // Let the host's last writes land before the device drops off.
        QTimer::singleShot(50, this, [this, index] {
            Entry& e = *devices[size_t(index)];
            unplug(index);
            if (e.device.settings().comeBackAfterReboot)
                e.returnTimer->start(e.device.settings().rebootMs);
            else
                say(QStringLiteral("%1: does not come back").arg(e.device.settings().path));
        });
    }
}

void DeviceBus::tickIdle()
{
    const qint64 now = clock.elapsed();
    for (size_t index = 0; index < devices.size(); ++index) {
        if (!devices[index]->plugged)
            continue;
        handleRequest(int(index), devices[index]->device.idle(now));
    }
}

} // namespace PelkPlus
