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
    void setSilent(bool silent) { silentMode = silent; }
    QList<DiagnosticsDevice> devices() const;

    // How long the headers may take to arrive, all together.
    static constexpr int headerTimeoutMs = 10000;

signals:
    void finished(int exitCode);

private:
    void onScanned();
    void onAnswer(int index, const std::optional<DeviceInfo>& info);
    void report();

    QString wantedSerial;
    CliOutput* cliOutput;
    DeviceMonitor* monitor = nullptr;
    QList<Connection> connections;
    QList<DeviceAgent*> agents;
    QList<std::optional<DeviceInfo>> infos;
    QList<bool> answered;
    // Nodes this account may not open.
    QStringList accessDenied;
    // The devices another updater has open.
    QList<Connection> busyDevices;
    int pending = 0;
    bool reported = false;
    bool silentMode = false;
    QTimer timeout;
};

} // namespace PelkPlus
