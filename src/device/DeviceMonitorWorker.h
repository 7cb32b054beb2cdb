#pragma once

#include "device/Connection.h"

#include <QEvent>
#include <QList>
#include <QObject>

#include <mutex>

namespace PelkPlus {

// Enumerates the HID bus once a second on the monitor's thread and keeps the latest list of
// connections for the monitor to read.
class DeviceMonitorWorker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceMonitorWorker)

public:
    // Posted by DeviceMonitor::start: begins polling.
    static constexpr QEvent::Type StartEvent = QEvent::User;
    static constexpr int pollIntervalMs = 1000;

    explicit DeviceMonitorWorker(QObject* parent = nullptr);
    ~DeviceMonitorWorker() override;

    // Copy of the latest poll's result; any thread.
    QList<Connection> connections() const;

signals:
    // Emitted after every poll, whether or not the list changed.
    void newConnections();

protected:
    void customEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void poll();

    int timerId = -1;
    QList<Connection> list;
    mutable std::mutex mutex;
};

} // namespace PelkPlus
