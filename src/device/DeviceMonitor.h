#pragma once

#include "device/Connection.h"

#include <QList>
#include <QObject>
#include <QThread>

namespace PelkPlus {

class DeviceMonitorWorker;

// Tells the application when a device of the family appears on or vanishes from USB. A worker on the
// monitor's own thread enumerates the bus; the monitor compares each result with the previous one
// in the main thread and emits one signal per change, every disconnection of a poll before its
// connections.
class DeviceMonitor : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceMonitor)

public:
    explicit DeviceMonitor(QObject* parent = nullptr);
    ~DeviceMonitor() override;

    // Starts the thread and the polling; does nothing when already started. The first poll comes
    // about a second later.
    void start();

    // The devices present at the last comparison (main thread only).
    QList<Connection> connections() const;

signals:
    void connected(const Connection& connection);
    void disconnected(const QString& path);
    // A poll has been compared, whether or not anything changed; connections() is current.
    void scanned();

private:
    void compareConnections();

    QThread thread;
    DeviceMonitorWorker* worker = nullptr;
    QList<Connection> previous;
};

} // namespace PelkPlus
