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
    , m_serial(serial)
    , m_output(output)
{
    m_monitor = new DeviceMonitor(this);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &DeviceLister::report);
}

DeviceLister::~DeviceLister()
{
    // Each agent joins its thread; none may outlive the monitor it listens to.
    qDeleteAll(m_agents);
}

void DeviceLister::start()
{
    connect(m_monitor, &DeviceMonitor::scanned, this, &DeviceLister::onScanned);
    m_monitor->start();
}

void DeviceLister::onScanned()
{
    // One poll tells what is connected; the monitor is only kept for the agents' sake.
    disconnect(m_monitor, &DeviceMonitor::scanned, this, &DeviceLister::onScanned);

    const QList<Connection> all = DeviceChoice::devices(m_monitor->connections());
    for (const Connection& connection : all) {
        if (m_serial.isEmpty() || connection.serialNumber == m_serial)
            m_connections.append(connection);
    }
    if (!m_serial.isEmpty() && m_connections.isEmpty()) {
        m_output->error(QStringLiteral("No device with serial number %1 is connected.").arg(m_serial),
            QStringLiteral("no-device"));
        m_reported = true;
        emit finished(2);
        return;
    }
    if (m_connections.isEmpty()) {
        report();
        return;
    }

    m_pending = m_connections.size();
    for (int index = 0; index < m_connections.size(); ++index) {
        m_infos.append(std::nullopt);
        m_answered.append(false);
        auto* agent = new DeviceAgent(m_connections.at(index), m_monitor);
        m_agents.append(agent);
        connect(agent, &DeviceAgent::ready, this,
            [this, index](const DeviceInfo& info) { onAnswer(index, info); });
        connect(agent, &DeviceAgent::failure, this, [this, index, agent] {
            if (agent->lastResult() == LinkAccessDenied)
                m_accessDenied.append(agent->connection().path);
            else if (agent->lastResult() == LinkDeviceBusy)
                busyDevices.append(agent->connection());
            onAnswer(index, std::nullopt);
        });
        agent->start();
    }
    m_timeout.start(headerTimeoutMs);
}

void DeviceLister::onAnswer(int index, const std::optional<DeviceInfo>& info)
{
    if (m_answered.at(index))
        return;
    m_answered[index] = true;
    m_infos[index] = info;
    // The header is all that is wanted; the device is left alone at once.
    m_agents.at(index)->stop();
    if (--m_pending == 0)
        report();
}

QList<DiagnosticsDevice> DeviceLister::devices() const
{
    QList<DiagnosticsDevice> found;
    for (int index = 0; index < m_connections.size(); ++index)
        found.append({ m_connections.at(index), index < m_infos.size() ? m_infos.at(index) : std::nullopt });
    return found;
}

void DeviceLister::report()
{
    if (m_reported)
        return;
    m_reported = true;
    m_timeout.stop();
    if (m_silent) {
        emit finished(0);
        return;
    }

    QJsonArray devices;
    int unread = 0;
    for (int index = 0; index < m_connections.size(); ++index) {
        const Connection& connection = m_connections.at(index);
        const DeviceInfo* info = m_infos.at(index) ? &*m_infos.at(index) : nullptr;
        unread += info ? 0 : 1;
        devices.append(DeviceReport::deviceObject(connection, info));
        m_output->result(DeviceReport::deviceLine(connection, info));
    }
    if (m_connections.isEmpty())
        m_output->info(QStringLiteral("No device connected."));
    for (const QString& path : qAsConst(m_accessDenied))
        m_output->error(DeviceAccessHint::text(path), QStringLiteral("device-access"));
    for (const Connection& connection : qAsConst(busyDevices))
        m_output->error(DeviceReport::busyText(connection), QStringLiteral("busy"));
    m_output->object(QJsonObject { { QStringLiteral("devices"), devices } });
    emit finished(!m_accessDenied.isEmpty() ? 2 : !busyDevices.isEmpty() ? 3 : unread > 0 ? 1 : 0);
}

} // namespace PelkPlus
