#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "workflow/DiagnosticsReport.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <optional>

namespace PelkPlus {

class CliOutput;
class DeviceAgent;
class DeviceMonitor;

// The devices command: waits for one poll of the bus, opens each device of the family through an
// agent of its own to read its header, and reports them all.
class DeviceLister : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceLister)

public:
    // serial: only that device, empty for all of them.
    DeviceLister(const QString& serial, CliOutput* output, QObject* parent = nullptr);
    ~DeviceLister() override;

    void start();
    // Collects the devices without writing anything; read them with devices() after finished().
    void setSilent(bool silent) { m_silent = silent; }
    QList<DiagnosticsDevice> devices() const;

    // How long the headers may take to arrive, all together.
    static constexpr int headerTimeoutMs = 10000;

signals:
    void finished(int exitCode);

private:
    void onScanned();
    void onAnswer(int index, const std::optional<DeviceInfo>& info);
    void report();

    QString m_serial;
    CliOutput* m_output;
    DeviceMonitor* m_monitor = nullptr;
    QList<Connection> m_connections;
    QList<DeviceAgent*> m_agents;
    QList<std::optional<DeviceInfo>> m_infos;
    QList<bool> m_answered;
    // Nodes this account may not open.
    QStringList m_accessDenied;
    // The devices another updater has open.
    QList<Connection> busyDevices;
    int m_pending = 0;
    bool m_reported = false;
    bool m_silent = false;
    QTimer m_timeout;
};

} // namespace PelkPlus
