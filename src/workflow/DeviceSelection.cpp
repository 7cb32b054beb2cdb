#include "workflow/DeviceSelection.h"

#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "device/DeviceMonitor.h"
#include "device/DeviceProtocol.h"
#include "workflow/DeviceAccessHint.h"
#include "workflow/GuardedTransition.h"
#include "workflow/NamedState.h"
#include "workflow/WorkflowQuestions.h"
#include "workflow/WorkflowStates.h"

#include <QDebug>
#include <QSignalTransition>
#include <QState>

#include <algorithm>

namespace PelkPlus {

DeviceSelection::DeviceSelection(DeviceMonitor* deviceMonitor, QObject* parent)
    : QObject(parent)
    , monitor(deviceMonitor)
    , rebootReturnLimitMs(DeviceProtocol::rebootReturn())
    , deviceAnswerLimitMs(deviceAnswerTimeoutMs)
{
    for (QTimer* timer : { &answerTimer, &rebootWaitTimer, &reconnectTimer })
        timer->setSingleShot(true);
    connect(&answerTimer, &QTimer::timeout, this, [this] {
        qCritical() << "Device did not answer within" << deviceAnswerLimitMs << "ms.";
        emit deviceSilent();
    });
    connect(&rebootWaitTimer, &QTimer::timeout, this, [this] {
        qCritical() << "Device did not come back within" << rebootReturnLimitMs << "ms of its restart.";
        // Another device waited on the bus for the whole restart: the update ends naming both, and
        // that device is offered as any other once the update is over.
        const QList<Connection> others = monitor->connections();
        if (updatingDevice && !selectableConnection() && !others.isEmpty()) {
            stopForForeignDevice(others.first());
            offerListedDevice();
            return;
        }
        // Not selected again until it is plugged in again.
        offerSuppressed = true;
        emit rebootWaitExpired();
    });
    connect(&reconnectTimer, &QTimer::timeout, this, [this] {
        offerSuppressed = false;
        offerListedDevice();
    });
}

DeviceSelection::~DeviceSelection() = default;

QString DeviceSelection::replugInstruction()
{
    return updateFailureNextStep(UpdateFailure::Connection);
}

QString DeviceSelection::accessWaitingText() const
{
    return accessDeniedPath ? DeviceAccessHint::waitingText(*accessDeniedPath) : QString();
}

void DeviceSelection::setWaitLimits(int rebootReturnMs, int answerMs)
{
    rebootReturnLimitMs = rebootReturnMs;
    deviceAnswerLimitMs = answerMs;
}

DeviceInfo DeviceSelection::deviceInfo() const
{
    return deviceAgent ? deviceAgent->deviceInfo() : DeviceInfo();
}

std::optional<Connection> DeviceSelection::selectedConnection() const
{
    if (!deviceAgent)
        return std::nullopt;
    return deviceAgent->connection();
}

QList<Connection> DeviceSelection::preferredAmong(
    const QList<Connection>& connections, const QString& serialNumber)
{
    QList<Connection> selectable = connections;
    if (serialNumber.isEmpty())
        return selectable;
    // Another device of the family that appears meanwhile is never taken in its place.
    selectable.erase(std::remove_if(selectable.begin(), selectable.end(),
                         [&serialNumber](const Connection& c) { return c.serialNumber != serialNumber; }),
        selectable.end());
    return selectable;
}

QList<Connection> DeviceSelection::returnCandidates(
    const QList<Connection>& connections, const Connection& updating)
{
    QList<Connection> alike;
    for (const Connection& connection : connections) {
        if (connection.model != updating.model)
            continue;
        // The path may change across a reboot; the serial number and the model do not. Without a
        // serial number (none, or one the system could not read) any device of the model would
        // match: then the node the update started on, or the USB port it is plugged into, tells.
        if (!updating.serialNumber.isEmpty() && !connection.serialNumber.isEmpty()) {
            if (connection.serialNumber == updating.serialNumber)
                return { connection };
            continue;
        }
        if (connection.path == updating.path)
            return { connection };
        if (!updating.portPath.isEmpty() && !connection.portPath.isEmpty()) {
            if (connection.portPath == updating.portPath)
                return { connection };
            continue;
        }
        alike.append(connection);
    }
    return alike;
}

std::optional<Connection> DeviceSelection::selectableAmong(
    const QList<Connection>& connections, const std::optional<Connection>& updating, const QString& chosen)
{
    if (!updating)
        return connections.isEmpty() ? std::nullopt : std::optional<Connection>(connections.first());
    const QList<Connection> candidates = returnCandidates(connections, *updating);
    // One that is it for certain comes alone; among those nothing tells apart, only the one the
    // user named is.
    for (const Connection& candidate : candidates) {
        const bool certain = candidates.size() == 1
            && ((!candidate.serialNumber.isEmpty() && candidate.serialNumber == updating->serialNumber)
                || candidate.path == updating->path
                || (!candidate.portPath.isEmpty() && candidate.portPath == updating->portPath));
        if (certain || (!chosen.isEmpty() && candidate.path == chosen))
            return candidate;
    }
    return std::nullopt;
}

void DeviceSelection::askAmongCandidates()
{
    if (!updatingDevice || deviceAgent || asking || !questions || selectableConnection())
        return;
    const Connection updated = *updatingDevice;
    const QList<Connection> candidates = returnCandidates(selectableConnections(), updated);
    if (candidates.isEmpty())
        return;
    const QString model = QLatin1String(modelName(updated.model));
    asking = true;
    emit awaitingAnswer(true);
    for (const Connection& candidate : candidates) {
        if (declinedPaths.contains(candidate.path))
            continue;
        qDebug() << "Asking whether the device at" << candidate.path << "is the one being updated.";
        const QString text = QStringLiteral(
            "The %1 being updated has no serial number that can be read, and after its restart "
            "nothing tells it apart from another %1 connected.\n\nIs the %1 at %2 the one "
            "being updated? Nothing is sent to a device you answer No for.")
                                 .arg(model, candidate.path);
        if (questions->ask(QStringLiteral("Which Device?"), text)) {
            chosenPath = candidate.path;
            break;
        }
        declinedPaths.append(candidate.path);
    }
    emit awaitingAnswer(false);
    asking = false;
    if (!chosenPath.isEmpty())
        offerListedDevice();
}

QList<Connection> DeviceSelection::selectableConnections() const
{
    return preferredAmong(monitor->connections(), preferred);
}

std::optional<Connection> DeviceSelection::selectableConnection() const
{
    return selectableAmong(selectableConnections(), updatingDevice, chosenPath);
}

void DeviceSelection::holdUpdatingDevice()
{
    if (deviceAgent)
        updatingDevice = deviceAgent->connection();
    chosenPath.clear();
    declinedPaths.clear();
    // A new update replaces what was left of the last one.
    resumeDevice.reset();
}

std::optional<Connection> DeviceSelection::deviceWorkedOn() const
{
    return updatingDevice ? updatingDevice : selectedConnection();
}

void DeviceSelection::releaseUpdatingDevice(bool awaitingReboot)
{
    if (awaitingReboot && updatingDevice)
        resumeDevice = updatingDevice;
    updatingDevice.reset();
    chosenPath.clear();
    declinedPaths.clear();
}

bool DeviceSelection::takeResumeDevice()
{
    const std::optional<Connection> returned = selectedConnection();
    const bool same = returned && resumeDevice && returned->serialNumber == resumeDevice->serialNumber
        && returned->model == resumeDevice->model;
    resumeDevice.reset();
    return same;
}

void DeviceSelection::selectDevice()
{
    qDebug() << "Selecting device...";
    if (deviceAgent) {
        qCritical() << "Trying to select device, but device already selected.";
        emit deviceFailure();
        return;
    }

    const QList<Connection> connections = monitor->connections();
    // The updater works with one device at a time: the first one the monitor lists (or the one a
    // face asked for), or during an update the device being updated, wherever it came back.
    const std::optional<Connection> selectable = selectableConnection();
    if (!selectable && updatingDevice && !connections.isEmpty()) {
        stopForForeignDevice(connections.first());
        return;
    }
    if (!selectable) {
        qCritical() << "Trying to select device, but none available.";
        emit deviceFailure();
        return;
    }
    const Connection& connection = *selectable;
    qDebug() << "Selected device:" << connection.serialNumber << connection.path;
    if (!connection.portPath.isEmpty())
        qDebug() << "Its USB port:" << connection.portPath;
    // The device being updated is found again from where it is now; what it told before and does
    // not tell now (a serial number read empty) is kept.
    if (updatingDevice) {
        Connection back = connection;
        if (back.serialNumber.isEmpty())
            back.serialNumber = updatingDevice->serialNumber;
        if (back.portPath.isEmpty())
            back.portPath = updatingDevice->portPath;
        updatingDevice = back;
        chosenPath.clear();
        declinedPaths.clear();
    }

    // Owned beside the selection, by its owner.
    deviceAgent = new DeviceAgent(connection, monitor, parent());
    // The agent keeps the record that ready carries; it is read from there when it is needed.
    connect(deviceAgent, &DeviceAgent::ready, this, [this] {
        qDebug() << "Device ready.";
        emit deviceReady();
    });
    connect(deviceAgent, &DeviceAgent::disconnected, this, &DeviceSelection::deviceDisconnected);
    connect(deviceAgent, &DeviceAgent::readyForUpdate, this, &DeviceSelection::deviceReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::notReadyForUpdate, this, &DeviceSelection::deviceNotReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::progress, this, &DeviceSelection::installProgress);
    connect(deviceAgent, &DeviceAgent::done, this, &DeviceSelection::deviceDone);
    connect(deviceAgent, &DeviceAgent::failure, this, &DeviceSelection::onDeviceFailure);
    deviceAgent->start();

    emit deviceConnected();
}

// A device that came while the updated one's agent was still being let go (in the very poll that
// saw its node go, say) moved no state: it is offered now. During an update only the device being
// updated is; any other waits until the update is over.
void DeviceSelection::offerListedDevice()
{
    if (offerSuppressed)
        return;
    if (selectableConnection())
        emit deviceAvailable();
}

void DeviceSelection::stopForForeignDevice(const Connection& foreign)
{
    const QString updated = QLatin1String(modelName(updatingDevice->model));
    const QString other = QLatin1String(modelName(foreign.model));
    const auto serialText
        = [](const QString& serial) { return serial.isEmpty() ? QStringLiteral("unknown") : serial; };
    qCritical() << "Update stopped: the device being updated" << updatingDevice->serialNumber
                << "did not come back; another device came instead:" << foreign.serialNumber << foreign.path;
    emit failureNoted(UpdateFailure::Stopped);
    emit messageRequested(MessageKind::Critical, QStringLiteral("Update Stopped"),
        QStringLiteral("The %1 being updated (serial number %2) did not come back after its restart; a %3 "
                       "(serial number %4) was connected instead.\n\nThe update was stopped and nothing was "
                       "sent to the %3. Please connect the %1 and check for updates again.")
            .arg(updated, serialText(updatingDevice->serialNumber), other, serialText(foreign.serialNumber)));
    emit foreignDeviceReturned();
}

void DeviceSelection::forgetDevice()
{
    qDebug() << "Forgetting device...";
    if (!deviceAgent)
        return;

    const Connection connection = deviceAgent->connection();
    deviceAgent->stop();
    // Joins the agent's thread, so nothing of the old connection reaches the workflow afterwards.
    delete deviceAgent;
    deviceAgent = nullptr;
    qDebug() << "Forgotten device:" << connection.serialNumber << connection.path;
}

void DeviceSelection::onDeviceFailure()
{
    if (deviceAgent) {
        failureResult = deviceAgent->lastResult();
        qCritical() << "Device failure:" << linkResultName(failureResult);
    }
    // Read while the agent exists: the failed connection forgets it.
    if (deviceAgent && deviceAgent->lastResult() == LinkAccessDenied)
        accessDeniedPath = deviceAgent->connection().path;
    else
        accessDeniedPath.reset();
    emit deviceFailure();
}

// Told once, not at every attempt; during the reboot wait the reboot failure alone is told.
void DeviceSelection::tellConnectFailure(const QString& text)
{
    if (connectFailureTold || awaitingReboot)
        return;
    connectFailureTold = true;
    emit failureNoted(accessDeniedPath        ? UpdateFailure::DeviceAccess
            : failureResult == LinkDeviceBusy ? UpdateFailure::Busy
                                              : UpdateFailure::Connection);
    const QString sandbox = DeviceAccessHint::sandboxText();
    emit messageRequested(MessageKind::Critical, QStringLiteral("Connection Failure"),
        sandbox.isEmpty() ? text : text + QStringLiteral("\n\n") + sandbox);
}

void DeviceSelection::buildRegion(QState* regions)
{
    // Alone follows the device's connection; the other regions follow it through its states being
    // entered.
    auto* deviceRegion = newState(WorkflowStates::deviceRegion, regions);
    auto* noDeviceState = newState(WorkflowStates::noDeviceState, deviceRegion);
    auto* connectingState = newState(WorkflowStates::connectingState, deviceRegion);
    auto* deviceReadyState = newState(WorkflowStates::deviceReadyState, deviceRegion);
    deviceRegion->setInitialState(noDeviceState);

    connect(noDeviceState, &QState::entered, this, &DeviceSelection::forgetDevice, Qt::DirectConnection);
    connect(noDeviceState, &QState::entered, this, &DeviceSelection::offerListedDevice, Qt::DirectConnection);
    connect(connectingState, &QState::entered, this, &DeviceSelection::selectDevice, Qt::DirectConnection);

    // While a device restarts during its update, no other device is selected or sent anything: only
    // a connection that selection may take moves the region.
    noDeviceState->addTransition(new GuardedTransition(
        monitor, &DeviceMonitor::connected, [this] { return !updatingDevice || selectableConnection(); },
        connectingState));
    noDeviceState->addTransition(this, &DeviceSelection::deviceAvailable, connectingState);
    connectingState->addTransition(this, &DeviceSelection::deviceReady, deviceReadyState);
    QSignalTransition* connectFailed
        = connectingState->addTransition(this, &DeviceSelection::deviceFailure, noDeviceState);
    // A device that failed to connect is tried again on the monitor's next connection, not at once;
    // one that answered wrongly is also asked again after a pause (it may have been restarting).
    connect(monitor, &DeviceMonitor::connected, this, [this] {
        offerSuppressed = false;
        connectFailureTold = false;
        // Asked outside the machine's step, once the connection has been offered as usual.
        if (updatingDevice && !deviceAgent)
            QMetaObject::invokeMethod(this, &DeviceSelection::askAmongCandidates, Qt::QueuedConnection);
    });
    // A refused node is remembered until the device opens or its node leaves the bus: until then
    // the retries underneath do not change what the faces say.
    connect(monitor, &DeviceMonitor::disconnected, this, [this](const QString& path) {
        if (accessDeniedPath == path)
            accessDeniedPath.reset();
    });
    connect(this, &DeviceSelection::deviceReady, this, [this] {
        connectFailureTold = false;
        accessDeniedPath.reset();
    });
    connect(connectFailed, &QAbstractTransition::triggered, this, [this] {
        offerSuppressed = true;
        reconnectTimer.start(reconnectDelayMs);
        tellConnectFailure(accessDeniedPath ? DeviceAccessHint::text(*accessDeniedPath)
                                            : QStringLiteral("Failed to connect to device."));
    });
    // A device that never answers is not asked for ever; it is tried again when plugged in again.
    connect(
        connectingState, &QState::entered, this, [this] { answerTimer.start(deviceAnswerLimitMs); },
        Qt::DirectConnection);
    connect(connectingState, &QState::exited, &answerTimer, &QTimer::stop, Qt::DirectConnection);
    QSignalTransition* silent
        = connectingState->addTransition(this, &DeviceSelection::deviceSilent, noDeviceState);
    connect(silent, &QAbstractTransition::triggered, this, [this] {
        offerSuppressed = true;
        // A device restarting after its update is asked again while its reboot window lasts.
        if (rebootWaitOpen())
            reconnectTimer.start(reconnectDelayMs);
        tellConnectFailure(
            QStringLiteral("Failed to connect to device.\n\nThe device did not answer within %1 "
                           "seconds. %2")
                .arg(deviceAnswerLimitMs / 1000)
                .arg(replugInstruction()));
    });
    // The reboot wait has ended: the device's agent, still asking, goes with it.
    connectingState->addTransition(this, &DeviceSelection::rebootWaitExpired, noDeviceState);
    connectingState->addTransition(this, &DeviceSelection::deviceDisconnected, noDeviceState);
    connectingState->addTransition(this, &DeviceSelection::foreignDeviceReturned, noDeviceState);
    deviceReadyState->addTransition(this, &DeviceSelection::deviceDisconnected, noDeviceState);
}

} // namespace PelkPlus
