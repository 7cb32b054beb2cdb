#include "support/AgentConnection.h"

#include "device/DeviceAgent.h"
#include "device/DeviceInfo.h"
#include "device/DeviceMonitor.h"

#include <QSignalSpy>

namespace PelkPlus {

std::unique_ptr<DeviceAgent> connectAgent(DeviceMonitor& monitor, QSignalSpy& connected, DeviceInfo* info)
{
    if (connected.isEmpty() && !connected.wait(10000))
        return nullptr;
    auto agent = std::make_unique<DeviceAgent>(connected.takeFirst().first().value<Connection>(), &monitor);
    QSignalSpy ready(agent.get(), &DeviceAgent::ready);
    agent->start();
    if (!ready.wait(5000))
        return nullptr;
    *info = ready.first().first().value<DeviceInfo>();
    return agent;
}

std::unique_ptr<DeviceAgent> connectAgent(DeviceMonitor& monitor, DeviceInfo* info)
{
    QSignalSpy connected(&monitor, &DeviceMonitor::connected);
    return connectAgent(monitor, connected, info);
}

} // namespace PelkPlus
