#pragma once

#include "device/Connection.h"
#include "workflow/DiagnosticsReport.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace PelkPlus {

class DeviceAgent;
class DeviceMonitor;

// The devices of the family on the bus, each with the header it answers, for a face that lists
// them rather than updates one: one poll of the bus, then an agent per device that reads the header
// and lets the device go at once. The devices are counted and filtered by serial number as the
// workflow's selection does, and each may take as long to answer as the workflow allows it.
class DeviceListing : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceListing)

public:
    explicit DeviceListing(QObject* parent = nullptr);
    ~DeviceListing() override;

    // Only the device with this serial number; empty for all of them.
    void setPreferredSerial(const QString& serialNumber) { preferred = serialNumber; }
    // How long the headers may take to arrive, all together.
    void setAnswerLimit(int ms) { answerLimitMs = ms; }
    void start();

    // After finished(): the devices listed, in the bus's order, with the versions of those that
    // answered.
    QList<DiagnosticsDevice> devices() const;
    // The nodes this account may not open, and the devices another updater has open.
    QStringList accessDenied() const { return deniedPaths; }
    QList<Connection> busy() const { return busyConnections; }

signals:
    // Once: every device has answered, failed, or the answer limit has passed.
    void finished();

private:
    void onScanned();
    void onAnswer(int index, const std::optional<DeviceInfo>& info);
    void finish();

    DeviceMonitor* monitor;
    QString preferred;
    int answerLimitMs;
    QList<Connection> connections;
    QList<DeviceAgent*> agents;
    QList<std::optional<DeviceInfo>> infos;
    QList<bool> answered;
    QStringList deniedPaths;
    QList<Connection> busyConnections;
    int pending = 0;
    bool done = false;
    QTimer timeout;
};

} // namespace PelkPlus
