// Which devices the workflow sees and may select, and whether one is being written to.
#include "workflow/UpdateWorkflow.h"

#include "device/DeviceAgent.h"
#include "device/DeviceMonitor.h"
#include "workflow/WorkflowStates.h"

#include <QState>

#include <algorithm>

namespace PelkPlus {

QList<Connection> UpdateWorkflow::connections() const
{
    return deviceMonitor->connections();
}

void UpdateWorkflow::setPreferredSerial(const QString& serialNumber)
{
    m_preferredSerial = serialNumber;
}

QList<Connection> UpdateWorkflow::selectableConnections() const
{
    QList<Connection> selectable = deviceMonitor->connections();
    if (m_preferredSerial.isEmpty())
        return selectable;
    // Another device of the family that appears meanwhile is never taken in its place.
    selectable.erase(std::remove_if(selectable.begin(), selectable.end(),
                         [this](const Connection& c) { return c.serialNumber != m_preferredSerial; }),
        selectable.end());
    return selectable;
}

std::optional<Connection> UpdateWorkflow::selectedConnection() const
{
    if (!deviceAgent)
        return std::nullopt;
    return deviceAgent->connection();
}

QList<DiagnosticsDevice> UpdateWorkflow::diagnosticsDevices() const
{
    const std::optional<Connection> selected = selectedConnection();
    const bool ready
        = state(WorkflowStates::deviceReadyState) && state(WorkflowStates::deviceReadyState)->active();
    QList<DiagnosticsDevice> devices;
    for (const Connection& connection : deviceMonitor->connections()) {
        DiagnosticsDevice device { connection, std::nullopt };
        if (ready && selected && selected->serialNumber == connection.serialNumber
            && selected->path == connection.path)
            device.info = deviceInfo();
        devices.append(device);
    }
    return devices;
}

bool UpdateWorkflow::isTransferring() const
{
    const QState* installing = state(WorkflowStates::installingState);
    return installing && installing->active();
}

} // namespace PelkPlus
