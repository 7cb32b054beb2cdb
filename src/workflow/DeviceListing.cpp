#include "workflow/DeviceListing.h"

#include "device/DeviceAgent.h"
#include "device/DeviceMonitor.h"
#include "device/LinkResult.h"
#include "workflow/DeviceChoice.h"
#include "workflow/DeviceSelection.h"

namespace PelkPlus {

DeviceListing::DeviceListing(QObject* parent)
    : QObject(parent)
    , monitor(new DeviceMonitor(this))
    , answerLimitMs(DeviceSelection::deviceAnswerTimeoutMs)
{
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, &DeviceListing::finish);
}

DeviceListing::~DeviceListing()
{
    // Each agent joins its thread; none may outlive the monitor it listens to.
    qDeleteAll(agents);
}

void DeviceListing::start()
{
    connect(monitor, &DeviceMonitor::scanned, this, &DeviceListing::onScanned);
    monitor->start();
}

void DeviceListing::onScanned()
{
    // One poll tells what is connected; the monitor is only kept for the agents' sake.
    disconnect(monitor, &DeviceMonitor::scanned, this, &DeviceListing::onScanned);

    connections = DeviceSelection::preferredAmong(DeviceChoice::devices(monitor->connections()), preferred);
    if (connections.isEmpty()) {
        finish();
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
                deniedPaths.append(agent->connection().path);
            else if (agent->lastResult() == LinkDeviceBusy)
                busyConnections.append(agent->connection());
            onAnswer(index, std::nullopt);
        });
        agent->start();
    }
    timeout.start(answerLimitMs);
}

void DeviceListing::onAnswer(int index, const std::optional<DeviceInfo>& info)
{
    if (answered.at(index))
        return;
    answered[index] = true;
    infos[index] = info;
    // The header is all that is wanted; the device is left alone at once.
    agents.at(index)->stop();
    if (--pending == 0)
        finish();
}

QList<DiagnosticsDevice> DeviceListing::devices() const
{
    QList<DiagnosticsDevice> found;
    for (int index = 0; index < connections.size(); ++index)
        found.append({ connections.at(index), index < infos.size() ? infos.at(index) : std::nullopt });
    return found;
}

void DeviceListing::finish()
{
    if (done)
        return;
    done = true;
    timeout.stop();
    emit finished();
}

} // namespace PelkPlus
