#include "cli/DeviceLister.h"

#include "cli/CliOutput.h"
#include "cli/DeviceChoice.h"
#include "cli/DeviceReport.h"
#include "device/DeviceAgent.h"
#include "device/DeviceMonitor.h"
#include "device/LinkResult.h"
#include "workflow/DeviceAccessHint.h"

#include <QJsonArray>
#include <QJsonObject>

namespace PelkPlus {

DeviceLister::DeviceLister(const QString& serial, CliOutput* output, QObject* parent)
    : QObject(parent)
    , wantedSerial(serial)
    , cliOutput(output)
{
    monitor = new DeviceMonitor(this);
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, &DeviceLister::report);
}

DeviceLister::~DeviceLister()
{
    // Each agent joins its thread; none may outlive the monitor it listens to.
    qDeleteAll(agents);
}

void DeviceLister::start()
{
    connect(monitor, &DeviceMonitor::scanned, this, &DeviceLister::onScanned);
    monitor->start();
}

void DeviceLister::onScanned()
{
    // One poll tells what is connected; the monitor is only kept for the agents' sake.
    disconnect(monitor, &DeviceMonitor::scanned, this, &DeviceLister::onScanned);

    const QList<Connection> all = DeviceChoice::devices(monitor->connections());
    for (const Connection& connection : all) {
        if (wantedSerial.isEmpty() || connection.serialNumber == wantedSerial)
            connections.append(connection);
    }
    if (!wantedSerial.isEmpty() && connections.isEmpty()) {
        cliOutput->error(QStringLiteral("No device with serial number %1 is connected.").arg(wantedSerial),
            QStringLiteral("no-device"));
        reported = true;
        emit finished(2);
        return;
    }
    if (connections.isEmpty()) {
        report();
        return;
    }

    pending = connections.size();
    for (int index = 0; index < connections.size(); ++index) {
        infos.append(std::nullopt);
        answered.append(false);
        auto* agent = new DeviceAgent(connections.at(index), monitor);
        agents.append(agent);
        connect(agent, &DeviceAgent::ready, this,
            [this, index](const DeviceInfo& info) { onAnswer(index, info); });
        connect(agent, &DeviceAgent::failure, this, [this, index, agent] {
            if (agent->lastResult() == LinkAccessDenied)
                accessDenied.append(agent->connection().path);
            else if (agent->lastResult() == LinkDeviceBusy)
                busyDevices.append(agent->connection());
            onAnswer(index, std::nullopt);
        });
        agent->start();
    }
    timeout.start(headerTimeoutMs);
}

void DeviceLister::onAnswer(int index, const std::optional<DeviceInfo>& info)
{
    if (answered.at(index))
        return;
    answered[index] = true;
    infos[index] = info;
    // The header is all that is wanted; the device is left alone at once.
    agents.at(index)->stop();
    if (--pending == 0)
        report();
}

QList<DiagnosticsDevice> DeviceLister::devices() const
{
    QList<DiagnosticsDevice> found;
    for (int index = 0; index < connections.size(); ++index)
        found.append({ connections.at(index), index < infos.size() ? infos.at(index) : std::nullopt });
    return found;
}

void DeviceLister::report()
{
    if (reported)
        return;
    reported = true;
    timeout.stop();
    if (silentMode) {
        emit finished(0);
        return;
    }

    QJsonArray devices;
    int unread = 0;
    for (int index = 0; index < connections.size(); ++index) {
        const Connection& connection = connections.at(index);
        const DeviceInfo* info = infos.at(index) ? &*infos.at(index) : nullptr;
        unread += info ? 0 : 1;
        devices.append(DeviceReport::deviceObject(connection, info));
        cliOutput->result(DeviceReport::deviceLine(connection, info));
    }
    if (connections.isEmpty())
        cliOutput->info(QStringLiteral("No device connected."));
    for (const QString& path : qAsConst(accessDenied))
        cliOutput->error(DeviceAccessHint::text(path), QStringLiteral("device-access"));
    for (const Connection& connection : qAsConst(busyDevices))
        cliOutput->error(DeviceReport::busyText(connection), QStringLiteral("busy"));
    cliOutput->object(QJsonObject { { QStringLiteral("devices"), devices } });
    emit finished(!accessDenied.isEmpty() ? 2 : !busyDevices.isEmpty() ? 3 : unread > 0 ? 1 : 0);
}

} // namespace PelkPlus
