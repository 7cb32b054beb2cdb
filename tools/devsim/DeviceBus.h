#pragma once

#include "SimulatedDevice.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QLocalServer;
class QIODevice;
class QTcpServer;

namespace PelkPlus {

class BusDevices;
class BusReplay;
class ReplaySession;

// Serves simulated devices on a Unix socket (or on TCP on loopback, "tcp:127.0.0.1:PORT", port 0
// for a free one) in the virtual bus protocol: "ENUM\n" lists the
// interfaces present, "OPEN <path>\n" opens one, after which the connection carries raw reports
// (65 bytes from the host, 64 to it). Plugging, unplugging and reboots take devices off the bus and
// close their connections, as pulling the cable would.
//
// This class keeps the connections and carries the reports; BusDevices keeps the devices and their
// comings and goings, BusReplay plays a recording.
class DeviceBus : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceBus)

public:
    explicit DeviceBus(QObject* parent = nullptr);
    ~DeviceBus() override;

    bool listen(const QString& socketPath);
    QString socketPath() const;

    // Adds a device, plugged in; returns its index.
    int addDevice(const SimulatedDevice::Settings& settings);
    int deviceCount() const;
    SimulatedDevice& device(int index);
    bool isPlugged(int index) const;

    void plug(int index);
    void unplug(int index);
    // Unplugs at once and plugs again after the device's reboot time, whether or not it wanted to.
    void powerCycle(int index);
    // Called after each report a device has handled, with the device's index and the report: lets a
    // test act at an exact point of a transfer.
    void setReportObserver(std::function<void(int, const QByteArray&)> observer)
    {
        reportObserver = std::move(observer);
    }

    // Plays the device side of a recording instead of the simulated devices (which then stay off the
    // bus); the bus does not own the session.
    void setReplay(ReplaySession* session);

signals:
    // One line for every event and every protocol violation.
    void event(const QString& line);
    // The host did something else than the recording holds; the line has been said.
    void replayMismatch();

private:
    struct Client;

    void onNewConnection();
    QIODevice* nextConnection();
    void onReadyRead(QIODevice* socket);
    void handleRequestLine(Client& client, const QByteArray& line);
    void pump(Client& client);
    void processReport(Client& client, const QByteArray& report);
    void openDevice(Client& client, const QString& path);
    void dropConnections(int index);
    void say(const QString& line);
    Client* clientFor(QIODevice* socket);
    void removeClient(QIODevice* socket);

    QLocalServer* server = nullptr;
    QTcpServer* tcpServer = nullptr;
    BusDevices* devices = nullptr;
    BusReplay* replay = nullptr;
    std::vector<std::unique_ptr<Client>> clients;
    std::function<void(int, const QByteArray&)> reportObserver;
};

} // namespace PelkPlus
