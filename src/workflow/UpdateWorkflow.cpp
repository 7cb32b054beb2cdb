// The workflow's parts, device selection and update planning.
#include "workflow/UpdateWorkflow.h"

#include "app/PowerStatus.h"
#include "app/SleepPreventer.h"
#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "device/DeviceMonitor.h"
#include "device/LinkResult.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManager.h"
#include "workflow/PowerCheck.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/WorkflowQuestions.h"
#include "workflow/WorkflowStates.h"

#include <QAbstractState>
#include <QDebug>
#include <QState>

namespace PelkPlus {

UpdateWorkflow::UpdateWorkflow(QObject* parent)
    : WorkflowNotifier(parent)
{
    appVersion = applicationVersion();

    deviceMonitor = new DeviceMonitor(this);
    updateManager = new UpdateManager(this);
    downloadAgent = new DownloadAgent(this);

    connect(downloadAgent, &DownloadAgent::requestStarted, this, &UpdateWorkflow::onDownloadStarted);
    connect(downloadAgent, &DownloadAgent::progress, this, &UpdateWorkflow::onDownloadProgress);
    connect(downloadAgent, &DownloadAgent::requestFinished, this, &UpdateWorkflow::onComponentDownloaded);
    connect(downloadAgent, &DownloadAgent::failed, this, &UpdateWorkflow::downloadFailure);
    connect(this, &UpdateWorkflow::downloadFailure, this, &UpdateWorkflow::recordDownloadFailure);
    connect(deviceMonitor, &DeviceMonitor::scanned, this, &WorkflowNotifier::devicesScanned);

    rebootTimer.setSingleShot(true);
    connect(&rebootTimer, &QTimer::timeout, this, &UpdateWorkflow::deviceReadyToReboot);
    for (QTimer* timer : { &answerTimer, &rebootWaitTimer, &reconnectTimer })
        timer->setSingleShot(true);
    connect(&answerTimer, &QTimer::timeout, this, [this] {
        qCritical() << "Device did not answer within" << deviceAnswerLimitMs << "ms.";
        emit deviceSilent();
    });
    connect(&rebootWaitTimer, &QTimer::timeout, this, [this] {
        qCritical() << "Device did not come back within" << rebootReturnLimitMs << "ms of its restart.";
        // Not selected again until it is plugged in again.
        offerSuppressed = true;
        emit rebootWaitExpired();
    });
    connect(&reconnectTimer, &QTimer::timeout, this, [this] {
        offerSuppressed = false;
        offerListedDevice();
    });

    createStateMachine();

    sleepPreventer = SleepPreventer::createForPlatform();
    powerCheck = new PowerCheck(PowerStatus::createForPlatform());

    // The phases' signals come after the workflow's own steps, so the component index is current.
    clock = new UpdateProgressClock(this);
    connect(this, &WorkflowNotifier::phaseChanged, clock, [this](WorkflowPhase phase) {
        if (phase == WorkflowPhase::Updating)
            clock->begin(estimate());
        clock->enterPhase(phase, currentComponent);
    });
    connect(this, &WorkflowNotifier::installProgressChanged, clock,
        [this](int percent) { clock->setTransferFraction(percent / 100.0); });
    connect(this, &WorkflowNotifier::updateEnded, clock, &UpdateProgressClock::stop);
}

UpdateWorkflow::~UpdateWorkflow()
{
    // Closed during an update: the update ends here, and says so to whoever still listens.
    if (updateRunning) {
        updateRunning = false;
        emit updateEnded(updateEndDue ? endingOutcome : UpdateOutcome::Stopped);
    }
    // Quitting while a file was on its way to the device, or before the device came back with it.
    closeAttempt(UpdateHistoryEntry::Interrupted);
    // Withdraws a request to stay awake that an update left behind.
    delete sleepPreventer;
    delete powerCheck;
}

void UpdateWorkflow::start()
{
    // A face's regions follow the device region and come before the workflow's own, so that they
    // show a device before the workflow acts on it.
    for (QState* region : qAsConst(m_ownRegions)) {
        region->setParent(nullptr);
        region->setParent(m_regions);
    }

    // The machine's first step runs once the event loop does.
    stateMachine.start();
    deviceMonitor->start();

    // The check for a newer updater that runs at start-up reports nothing unless it finds one.
    silentAppUpdateCheck = true;
}

QState* UpdateWorkflow::state(const char* name) const
{
    QState* found = stateMachine.findChild<QState*>(QLatin1String(name));
    Q_ASSERT_X(found, "UpdateWorkflow::state", name);
    if (!found)
        qCritical() << "UpdateWorkflow: no state named" << name;
    return found;
}

void UpdateWorkflow::reportUpdateEnd()
{
    if (!updateEndDue)
        return;
    updateEndDue = false;
    updateRunning = false;
    qDebug() << "Update ended:" << updateOutcomeName(endingOutcome);
    emit updateEnded(endingOutcome);
}

void UpdateWorkflow::setDeviceWaitLimits(int rebootReturnMs, int answerMs)
{
    rebootReturnLimitMs = rebootReturnMs;
    deviceAnswerLimitMs = answerMs;
}

void UpdateWorkflow::setQuestions(WorkflowQuestions* asked)
{
    questions = asked;
}

void UpdateWorkflow::setSleepPreventer(SleepPreventer* preventer)
{
    if (preventer == sleepPreventer)
        return;
    delete sleepPreventer;
    sleepPreventer = preventer;
}

void UpdateWorkflow::setPowerStatus(PowerStatus* status)
{
    powerCheck->setStatus(status);
}

UpdateEstimate UpdateWorkflow::estimate() const
{
    return UpdateEstimate::forPlan(updatePlan, deviceAgent ? deviceAgent->connection().model : Plus);
}

QString UpdateWorkflow::powerWarning(const UpdateEstimate& planned)
{
    return powerCheck->warning(planned);
}

std::optional<ComponentType> UpdateWorkflow::platformApplicationType()
{
#if defined(Q_OS_WIN)
    return ComponentType::WindowsApplication;
#elif defined(Q_OS_MACOS)
    return ComponentType::MacApplication;
#else
    return std::nullopt;
#endif
}

void UpdateWorkflow::setAppPackageType(std::optional<ComponentType> type)
{
    appPackageType = type;
}

DownloadFailure UpdateWorkflow::lastDownloadFailure() const
{
    return downloadAgent->failureKind();
}

DeviceInfo UpdateWorkflow::deviceInfo() const
{
    return deviceAgent ? deviceAgent->deviceInfo() : DeviceInfo();
}

void UpdateWorkflow::showMessage(MessageKind kind, const QString& title, const QString& text)
{
    emit messageRequested(kind, title, text);
}

void UpdateWorkflow::checkForUpdates()
{
    emit checkUpdatesRequest();
}

void UpdateWorkflow::startUpdate()
{
    // Asked before the first byte is sent, and only when the update would begin. The phase, not the
    // state's activity: a face may start the update from the phase's own signal, while the state
    // is still being entered.
    if (currentPhase == WorkflowPhase::Planned && !powerCheck->allows(estimate(), questions))
        return;
    emit updateStartRequested();
}

void UpdateWorkflow::listAllComponents()
{
    emit forceInstallAllComponentsRequest();
}

void UpdateWorkflow::checkAppUpdates()
{
    // Asked while the silent start-up check runs: that check answers, as a requested one would.
    if (state(WorkflowStates::appCheckRunningState)->active())
        silentAppUpdateCheck = false;
    emit checkAppUpdatesRequest();
}

void UpdateWorkflow::answerAppUpdate(bool accepted)
{
    if (accepted)
        emit appUpdatesConfirmed();
    else
        emit appUpdatesRejected();
}

void UpdateWorkflow::selectDevice()
{
    qDebug() << "Selecting device...";
    if (deviceAgent) {
        qCritical() << "Trying to select device, but device already selected.";
        emit deviceFailure();
        return;
    }

    const QList<Connection> connections = deviceMonitor->connections();
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
    const Connection connection = *selectable;
    qDebug() << "Selected device:" << connection.serialNumber << connection.path;

    deviceAgent = new DeviceAgent(connection, deviceMonitor, this);
    connect(deviceAgent, &DeviceAgent::ready, this, &UpdateWorkflow::onDeviceReady);
    connect(deviceAgent, &DeviceAgent::disconnected, this, &UpdateWorkflow::onDeviceDisconnected);
    connect(deviceAgent, &DeviceAgent::readyForUpdate, this, &UpdateWorkflow::deviceReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::notReadyForUpdate, this, &UpdateWorkflow::deviceNotReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::progress, this, &UpdateWorkflow::onInstallProgress);
    connect(deviceAgent, &DeviceAgent::done, this, &UpdateWorkflow::deviceDone);
    connect(deviceAgent, &DeviceAgent::failure, this, &UpdateWorkflow::onDeviceFailure);
    deviceAgent->start();

    emit deviceConnected();
}

std::optional<Connection> UpdateWorkflow::selectableConnection() const
{
    const QList<Connection> connections = selectableConnections();
    for (const Connection& connection : connections) {
        if (!updatingDevice)
            return connection;
        if (connection.model != updatingDevice->model)
            continue;
        // The path may change across a reboot; the serial number and the model do not. Without a
        // serial number (none, or one the system could not read) any device of the model would
        // match: then only the node the update started on counts.
        if (updatingDevice->serialNumber.isEmpty() || connection.serialNumber.isEmpty()) {
            if (connection.path == updatingDevice->path)
                return connection;
            continue;
        }
        if (connection.serialNumber == updatingDevice->serialNumber)
            return connection;
    }
    return std::nullopt;
}

// A connection reported while the previous agent still existed moved no state; the monitor still
// lists it, so it is taken up as soon as the workflow can select a device again. Only a device in
// the device region's noDeviceState is selected; elsewhere the offer moves nothing.
void UpdateWorkflow::offerListedDevice()
{
    // A device that came while the updated one's agent was still being let go (in the very poll
    // that saw its node go, say) moved no state: it is offered now, so that selecting it stops the
    // update with the foreign-device message instead of waiting for a connection that never comes.
    const bool cameMeanwhile
        = connectionAfterLoss && updatingDevice && !deviceMonitor->connections().isEmpty();
    connectionAfterLoss = false;
    if (offerSuppressed)
        return;
    if (selectableConnection() || cameMeanwhile)
        emit deviceAvailable();
}

void UpdateWorkflow::stopForForeignDevice(const Connection& foreign)
{
    const QString updated = QLatin1String(modelName(updatingDevice->model));
    const QString other = QLatin1String(modelName(foreign.model));
    const auto serialText
        = [](const QString& serial) { return serial.isEmpty() ? QStringLiteral("unknown") : serial; };
    qCritical() << "Update stopped: the device being updated" << updatingDevice->serialNumber
                << "did not come back; another device came instead:" << foreign.serialNumber << foreign.path;
    showMessage(MessageKind::Critical, QStringLiteral("Update Stopped"),
        QStringLiteral("The %1 being updated (serial number %2) did not come back after its restart; a %3 "
                       "(serial number %4) was connected instead.\n\nThe update was stopped and nothing was "
                       "sent to the %3. Please connect the %1 and check for updates again.")
            .arg(updated, serialText(updatingDevice->serialNumber), other, serialText(foreign.serialNumber)));
    emit foreignDeviceReturned();
}

void UpdateWorkflow::forgetDevice()
{
    qDebug() << "Forgetting device...";
    if (!deviceAgent)
        return;

    const Connection connection = deviceAgent->connection();
    agentNodeGone = false;
    deviceAgent->stop();
    // Joins the agent's thread, so nothing of the old connection reaches the workflow afterwards.
    delete deviceAgent;
    deviceAgent = nullptr;
    qDebug() << "Forgotten device:" << connection.serialNumber << connection.path;
}

// The agent keeps the record that ready carries; it is read from there when it is needed.
void UpdateWorkflow::onDeviceReady(const DeviceInfo&)
{
    qDebug() << "Device ready.";
    emit deviceReady();
}

void UpdateWorkflow::onDeviceDisconnected()
{
    emit deviceDisconnected();
}

void UpdateWorkflow::onDeviceFailure()
{
    if (deviceAgent) {
        deviceFailureResult = deviceAgent->lastResult();
        qCritical() << "Device failure:" << linkResultName(deviceFailureResult);
    }
    // Read while the agent exists: the failed connection forgets it.
    if (deviceAgent && deviceAgent->lastResult() == LinkAccessDenied)
        accessDeniedPath = deviceAgent->connection().path;
    else
        accessDeniedPath.reset();
    emit deviceFailure();
}

void UpdateWorkflow::resetUpdatePlan()
{
    lastCheckTime = QDateTime();
    warnings.clear();
    updatePlan.clear();
    currentComponent = -1;
}

void UpdateWorkflow::startUpdateCheck()
{
    resetUpdatePlan();
    fetchingManifest = true;
    freshManifest = true;
    emit planChanged();
    // A check that is already under way (the start-up updater check) delivers the result.
    updateManager->checkForUpdates();
}

void UpdateWorkflow::planUpdate(bool forceAll)
{
    resetUpdatePlan();
    const DeviceInfo info = deviceInfo();
    // A re-plan after an update or a failure rests on the check that made the plan; the update
    // manager's data may have been cleared by a check for a newer updater since.
    if (freshManifest || !plannedFrom) {
        plannedFrom = updateManager->componentsFor(UpdatePlanner::productFor(info));
        plannedFromTime = updateManager->manifestTime();
        plannedFromVerified = updateManager->isCatalogueVerified();
        freshManifest = false;
    }
    lastCheckTime = plannedFromTime;

    const UpdatePlan plan = UpdatePlanner::plan(info, *plannedFrom, forceAll);
    updatePlan = plan.components;
    warnings = plan.warnings;

    if (updatePlan.isEmpty())
        emit noUpdatesAvailable();
    else
        emit updatesAvailable();
}

} // namespace PelkPlus
