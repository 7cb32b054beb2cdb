// The workflow's state machine: the device, workflow and updater-check regions, driven by the
// workflow's and the agents' signals.
#include "workflow/UpdateWorkflow.h"

#include "device/DeviceAgent.h"
#include "device/DeviceMonitor.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManager.h"
#include "workflow/DeviceAccessHint.h"
#include "workflow/NamedState.h"
#include "workflow/WorkflowStates.h"

#include <QSignalTransition>
#include <QState>

#include <functional>
#include <utility>

namespace PelkPlus {

namespace {

// What to do with a device that did not answer or did not come back, whatever the reason.
const char replugInstruction[] = "Please unplug the device, wait five seconds and plug it in again.";

// A signal transition taken only while its guard holds.
class GuardedTransition : public QSignalTransition
{
public:
    template <typename Signal>
    GuardedTransition(const typename QtPrivate::FunctionPointer<Signal>::Object* sender, Signal signal,
        std::function<bool()> guard)
        : QSignalTransition(sender, signal)
        , m_guard(std::move(guard))
    { }

protected:
    bool eventTest(QEvent* event) override { return QSignalTransition::eventTest(event) && m_guard(); }

private:
    std::function<bool()> m_guard;
};

} // namespace

void UpdateWorkflow::createStateMachine()
{
    // The regions follow the device, the workflow and the updater check side by side, with any
    // region a face adds. Qt refuses a machine that is itself parallel, so one parallel state holds
    // the regions. Parented to the workflow, so that it can be found among its face's children.
    stateMachine.setParent(this);
    stateMachine.setObjectName(QStringLiteral("stateMachine"));
    m_regions = newState(WorkflowStates::regions, &stateMachine);
    m_regions->setChildMode(QState::ParallelStates);
    stateMachine.setInitialState(m_regions);

    // Device region: alone follows the device's connection; the other regions follow it through
    // its states being entered.
    auto* deviceRegion = newState(WorkflowStates::deviceRegion, m_regions);
    auto* noDeviceState = newState(WorkflowStates::noDeviceState, deviceRegion);
    auto* connectingState = newState(WorkflowStates::connectingState, deviceRegion);
    auto* deviceReadyState = newState(WorkflowStates::deviceReadyState, deviceRegion);
    deviceRegion->setInitialState(noDeviceState);

    connect(noDeviceState, &QState::entered, this, &UpdateWorkflow::forgetDevice, Qt::DirectConnection);
    connect(noDeviceState, &QState::entered, this, &UpdateWorkflow::offerListedDevice, Qt::DirectConnection);
    connect(connectingState, &QState::entered, this, &UpdateWorkflow::selectDevice, Qt::DirectConnection);

    noDeviceState->addTransition(deviceMonitor, &DeviceMonitor::connected, connectingState);
    noDeviceState->addTransition(this, &UpdateWorkflow::deviceAvailable, connectingState);
    connectingState->addTransition(this, &UpdateWorkflow::deviceReady, deviceReadyState);
    QSignalTransition* connectFailed
        = connectingState->addTransition(this, &UpdateWorkflow::deviceFailure, noDeviceState);
    // A device that failed to connect is tried again on the monitor's next connection, not at once;
    // one that answered wrongly is also asked again after a pause (it may have been restarting).
    // The failure is told once, not at every attempt; during the reboot wait the reboot failure
    // alone is told.
    connect(deviceMonitor, &DeviceMonitor::connected, this, [this] {
        offerSuppressed = false;
        connectFailureTold = false;
        connectionAfterLoss = connectionAfterLoss || agentNodeGone;
    });
    connect(deviceMonitor, &DeviceMonitor::disconnected, this, [this](const QString& path) {
        agentNodeGone = agentNodeGone || (deviceAgent && deviceAgent->connection().path == path);
    });
    connect(this, &UpdateWorkflow::deviceReady, this, [this] { connectFailureTold = false; });
    connect(connectFailed, &QAbstractTransition::triggered, this, [this] {
        offerSuppressed = true;
        reconnectTimer.start(reconnectDelayMs);
        if (connectFailureTold || state(WorkflowStates::awaitRebootState)->active())
            return;
        connectFailureTold = true;
        showMessage(MessageKind::Critical, QStringLiteral("Connection Failure"),
            accessDeniedPath ? DeviceAccessHint::text(*accessDeniedPath)
                             : QStringLiteral("Failed to connect to device."));
    });
    // A device that never answers is not asked for ever; it is tried again when plugged in again.
    connect(
        connectingState, &QState::entered, this, [this] { answerTimer.start(deviceAnswerLimitMs); },
        Qt::DirectConnection);
    connect(connectingState, &QState::exited, &answerTimer, &QTimer::stop, Qt::DirectConnection);
    QSignalTransition* silent
        = connectingState->addTransition(this, &UpdateWorkflow::deviceSilent, noDeviceState);
    connect(silent, &QAbstractTransition::triggered, this, [this] {
        offerSuppressed = true;
        if (connectFailureTold || state(WorkflowStates::awaitRebootState)->active())
            return;
        connectFailureTold = true;
        showMessage(MessageKind::Critical, QStringLiteral("Connection Failure"),
            QStringLiteral("Failed to connect to device.\n\nThe device did not answer within %1 seconds. %2")
                .arg(deviceAnswerLimitMs / 1000)
                .arg(QLatin1String(replugInstruction)));
    });
    // The reboot wait has ended: the device's agent, still asking, goes with it.
    connectingState->addTransition(this, &UpdateWorkflow::rebootWaitExpired, noDeviceState);
    connectingState->addTransition(this, &UpdateWorkflow::deviceDisconnected, noDeviceState);
    connectingState->addTransition(this, &UpdateWorkflow::foreignDeviceReturned, noDeviceState);
    deviceReadyState->addTransition(this, &UpdateWorkflow::deviceDisconnected, noDeviceState);

    // Workflow: the check for updates and the update itself.
    auto* workflowRegion = newState(WorkflowStates::workflowRegion, m_regions);
    auto* promptConnectState = newState(WorkflowStates::promptConnectState, workflowRegion);
    auto* promptWaitState = newState(WorkflowStates::promptWaitState, workflowRegion);
    auto* promptReplugState = newState(WorkflowStates::promptReplugState, workflowRegion);
    auto* activeDeviceState = newState(WorkflowStates::activeDeviceState, workflowRegion);
    auto* selectionState = newState(WorkflowStates::selectionState, activeDeviceState);
    auto* idleState = newState(WorkflowStates::idleState, selectionState);
    auto* nothingToInstallState = newState(WorkflowStates::nothingToInstallState, idleState);
    auto* readyToInstallState = newState(WorkflowStates::readyToInstallState, idleState);
    auto* checkingState = newState(WorkflowStates::checkingState, selectionState);
    auto* fetchManifestState = newState(WorkflowStates::fetchManifestState, checkingState);
    auto* planUpdateState = newState(WorkflowStates::planUpdateState, checkingState);
    auto* fetchManifestForceState = newState(WorkflowStates::fetchManifestForceState, checkingState);
    auto* planForceInstallState = newState(WorkflowStates::planForceInstallState, checkingState);
    auto* updatingState = newState(WorkflowStates::updatingState, activeDeviceState);
    auto* nextComponentState = newState(WorkflowStates::nextComponentState, updatingState);
    auto* downloadingState = newState(WorkflowStates::downloadingState, updatingState);
    auto* downloadAllState = newState(WorkflowStates::downloadAllState, updatingState);
    auto* awaitUpdateModeState = newState(WorkflowStates::awaitUpdateModeState, updatingState);
    auto* installingState = newState(WorkflowStates::installingState, updatingState);
    auto* installFailedState = newState(WorkflowStates::installFailedState, updatingState);
    auto* awaitFinishState = newState(WorkflowStates::awaitFinishState, updatingState);
    auto* rebootTimeoutState = newState(WorkflowStates::rebootTimeoutState, updatingState);
    auto* awaitRebootState = newState(WorkflowStates::awaitRebootState, updatingState);
    workflowRegion->setInitialState(promptConnectState);
    activeDeviceState->setInitialState(selectionState);
    selectionState->setInitialState(idleState);
    idleState->setInitialState(nothingToInstallState);
    // Entering checkingState directly re-plans from the manifest already held; only the two
    // explicit transitions into the fetch states download it again.
    checkingState->setInitialState(planUpdateState);
    updatingState->setInitialState(nextComponentState);

    connect(
        activeDeviceState, &QState::entered, this, &UpdateWorkflow::resetUpdatePlan, Qt::DirectConnection);
    connect(activeDeviceState, &QState::exited, this, &UpdateWorkflow::resetUpdatePlan, Qt::DirectConnection);
    // A plan rests on a check of this device; another device is checked afresh. The device whose
    // update ended while it restarted keeps its check, and what is left is planned again when it
    // is back.
    connect(
        activeDeviceState, &QState::exited, this,
        [this] {
            if (!resumeDevice)
                plannedFrom.reset();
        },
        Qt::DirectConnection);
    connect(
        activeDeviceState, &QState::entered, this,
        [this] {
            if (!resumeDevice)
                return;
            const std::optional<Connection> returned = selectedConnection();
            const bool same = returned && plannedFrom && returned->serialNumber == resumeDevice->serialNumber
                && returned->model == resumeDevice->model;
            resumeDevice.reset();
            if (same) {
                qDebug() << "The device is back: planning what is left of its update.";
                emit resumeRequested();
            } else {
                plannedFrom.reset();
            }
        },
        Qt::DirectConnection);
    connect(
        nothingToInstallState, &QState::entered, this, &UpdateWorkflow::planChanged, Qt::DirectConnection);
    connect(readyToInstallState, &QState::entered, this, &UpdateWorkflow::planChanged, Qt::DirectConnection);
    connect(
        fetchManifestState, &QState::entered, this, &UpdateWorkflow::startUpdateCheck, Qt::DirectConnection);
    for (QState* fetching : { fetchManifestState, fetchManifestForceState }) {
        connect(
            fetching, &QState::exited, this, [this] { fetchingManifest = false; }, Qt::DirectConnection);
    }
    connect(
        planUpdateState, &QState::entered, this, [this] { planUpdate(false); }, Qt::DirectConnection);
    connect(fetchManifestForceState, &QState::entered, this, &UpdateWorkflow::startUpdateCheck,
        Qt::DirectConnection);
    connect(
        planForceInstallState, &QState::entered, this, [this] { planUpdate(true); }, Qt::DirectConnection);
    // Sleep is kept off before the first step of the update and allowed again however it ends.
    connect(
        updatingState, &QState::entered, this, &UpdateWorkflow::enableSleepPrevention, Qt::DirectConnection);
    connect(updatingState, &QState::entered, this, &UpdateWorkflow::beginUpdate, Qt::DirectConnection);
    connect(
        updatingState, &QState::exited, this, &UpdateWorkflow::disableSleepPrevention, Qt::DirectConnection);
    connect(
        updatingState, &QState::exited, this,
        [this] {
            // Left with a file sent and its outcome unknown: the device went away or another came.
            closeAttempt(UpdateHistoryEntry::DeviceLost);
            if (currentPhase == WorkflowPhase::AwaitingReboot && updatingDevice)
                resumeDevice = updatingDevice;
            updatingDevice.reset();
            verificationDue = false;
        },
        Qt::DirectConnection);
    connect(nextComponentState, &QState::entered, this, &UpdateWorkflow::selectNextComponent,
        Qt::DirectConnection);
    connect(
        downloadingState, &QState::entered, this, &UpdateWorkflow::downloadComponent, Qt::DirectConnection);
    // However the step is left, its download ends with it.
    connect(downloadingState, &QState::exited, this, &UpdateWorkflow::abortComponentDownload,
        Qt::DirectConnection);
    connect(downloadAllState, &QState::entered, this, &UpdateWorkflow::downloadAllComponents,
        Qt::DirectConnection);
    connect(downloadAllState, &QState::exited, this, &UpdateWorkflow::abortComponentDownload,
        Qt::DirectConnection);
    connect(
        awaitUpdateModeState, &QState::entered, this, &UpdateWorkflow::awaitUpdateMode, Qt::DirectConnection);
    connect(
        installingState, &QState::entered, this, &UpdateWorkflow::onDownloadFinished, Qt::DirectConnection);
    connect(
        installFailedState, &QState::entered, this,
        [this] {
            if (openAttempt) {
                closeAttempt(UpdateHistoryEntry::InstallFailed);
            } else if (const Component* refused = currentPlanEntry()) {
                recordAttempt(attemptFor(*refused, false), UpdateHistoryEntry::InstallFailed);
            }
            QString text = QStringLiteral("The update could not be completed.");
            if (!installFailureDetail.isEmpty())
                text += QStringLiteral("\n\n") + std::exchange(installFailureDetail, QString());
            showMessage(MessageKind::Critical, QStringLiteral("Update Failure"), text);
        },
        Qt::DirectConnection);
    connect(
        awaitFinishState, &QState::entered, this, &UpdateWorkflow::startRebootTimer, Qt::DirectConnection);
    connect(
        rebootTimeoutState, &QState::entered, this, &UpdateWorkflow::requestPowerCycle, Qt::DirectConnection);

    // The workflow is ready for a device again, perhaps one the device region could not take before.
    connect(
        promptConnectState, &QState::entered, this, &UpdateWorkflow::offerListedDevice, Qt::DirectConnection);
    promptConnectState->addTransition(connectingState, &QState::entered, promptWaitState);
    promptWaitState->addTransition(deviceReadyState, &QState::entered, activeDeviceState);
    // A device on the bus that did not answer, or answered wrongly, is to be plugged in again.
    auto* notAnswering
        = new GuardedTransition(noDeviceState, &QState::entered, [this] { return offerSuppressed; });
    notAnswering->setTargetState(promptReplugState);
    promptWaitState->addTransition(notAnswering);
    promptWaitState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    promptReplugState->addTransition(connectingState, &QState::entered, promptWaitState);
    // Unplugged and not yet plugged in again.
    auto* unplugged = new GuardedTransition(
        deviceMonitor, &DeviceMonitor::disconnected, [this] { return !selectableConnection(); });
    unplugged->setTargetState(promptConnectState);
    promptReplugState->addTransition(unplugged);
    // Losing the device ends whatever runs, except during the reboot wait, whose own transitions
    // on the same event are innermost and win.
    activeDeviceState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    idleState->addTransition(this, &UpdateWorkflow::forceInstallComponentRequest, updatingState);
    idleState->addTransition(
        this, &UpdateWorkflow::forceInstallAllComponentsRequest, fetchManifestForceState);
    idleState->addTransition(this, &UpdateWorkflow::resumeRequested, checkingState);
    nothingToInstallState->addTransition(this, &UpdateWorkflow::checkUpdatesRequest, fetchManifestState);
    readyToInstallState->addTransition(this, &UpdateWorkflow::checkUpdatesRequest, fetchManifestState);
    readyToInstallState->addTransition(this, &UpdateWorkflow::updateStartRequested, updatingState);
    QSignalTransition* checkFailed
        = checkingState->addTransition(updateManager, &UpdateManager::failure, nothingToInstallState);
    connect(checkFailed, &QAbstractTransition::triggered, this, [this] {
        switch (updateManager->failureReason()) {
        case UpdateManager::UnverifiedCatalogue:
            showMessage(MessageKind::Critical, QStringLiteral("Update Check Failure"),
                QStringLiteral("The update catalogue could not be verified, so no updates are offered. "
                               "Nothing was sent to the device.\n\n%1")
                    .arg(updateManager->failureText()));
            return;
        case UpdateManager::RefusedCatalogue:
            showMessage(MessageKind::Critical, QStringLiteral("Update Check Failure"),
                QStringLiteral("The update catalogue was refused, so no updates are offered. Nothing was "
                               "sent to the device.\n\n%1")
                    .arg(updateManager->failureText()));
            return;
        case UpdateManager::NotACatalogue:
            showMessage(
                MessageKind::Critical, QStringLiteral("Update Check Failure"), updateManager->failureText());
            return;
        default:
            break;
        }
        // The reason (a refused connection, a 404, a server too slow) tells the user what to try.
        const QString reason = updateManager->failureText();
        showMessage(MessageKind::Critical, QStringLiteral("Update Check Failure"),
            reason.isEmpty() ? QStringLiteral("Failed to check for updates!")
                             : QStringLiteral("Failed to check for updates!\n\n%1").arg(reason));
    });
    checkingState->addTransition(this, &UpdateWorkflow::updatesAvailable, readyToInstallState);
    checkingState->addTransition(this, &UpdateWorkflow::noUpdatesAvailable, nothingToInstallState);
    fetchManifestState->addTransition(updateManager, &UpdateManager::updateDiscoveryDone, planUpdateState);
    fetchManifestForceState->addTransition(
        updateManager, &UpdateManager::updateDiscoveryDone, planForceInstallState);
    nextComponentState->addTransition(this, &UpdateWorkflow::componentSelected, downloadingState);
    nextComponentState->addTransition(this, &UpdateWorkflow::updateFinished, checkingState);
    nextComponentState->addTransition(this, &UpdateWorkflow::componentNotApplied, checkingState);
    nextComponentState->addTransition(this, &UpdateWorkflow::downloadsRequired, downloadAllState);
    for (QState* fetching : { downloadingState, downloadAllState }) {
        QSignalTransition* downloadFailed
            = fetching->addTransition(this, &UpdateWorkflow::downloadFailure, checkingState);
        connect(downloadFailed, &QAbstractTransition::triggered, this, [this] {
            showMessage(MessageKind::Critical, QStringLiteral("Download Failure"),
                QStringLiteral("Failed to download updates."));
        });
    }
    // Every file has arrived whole and matches the catalogue: the first component may go.
    auto* allDownloaded = new GuardedTransition(
        downloadAgent, &DownloadAgent::finished, [this] { return componentDownloadRunning; });
    allDownloaded->setTargetState(nextComponentState);
    downloadAllState->addTransition(allDownloaded);
    // Only the download this step started moves it on.
    auto* downloaded = new GuardedTransition(
        downloadAgent, &DownloadAgent::finished, [this] { return componentDownloadRunning; });
    downloaded->setTargetState(awaitUpdateModeState);
    downloadingState->addTransition(downloaded);
    downloadingState->addTransition(this, &UpdateWorkflow::componentDownloadSkipped, awaitUpdateModeState);
    awaitUpdateModeState->addTransition(this, &UpdateWorkflow::deviceReadyForUpdate, installingState);
    installingState->addTransition(this, &UpdateWorkflow::deviceFailure, installFailedState);
    installingState->addTransition(this, &UpdateWorkflow::installFailure, installFailedState);
    installingState->addTransition(this, &UpdateWorkflow::deviceDone, awaitFinishState);
    installFailedState->addTransition(checkingState);
    awaitFinishState->addTransition(noDeviceState, &QState::entered, awaitRebootState);
    awaitFinishState->addTransition(&rebootTimer, &QTimer::timeout, rebootTimeoutState);
    rebootTimeoutState->addTransition(noDeviceState, &QState::entered, awaitRebootState);
    awaitRebootState->addTransition(deviceReadyState, &QState::entered, nextComponentState);
    // Only another device came back: the update stops; nothing is sent to that device.
    updatingState->addTransition(this, &UpdateWorkflow::foreignDeviceReturned, promptConnectState);
    // The device came back and failed to connect, or did not come back in time: one message, and
    // the instruction that goes on with the update.
    connect(
        awaitRebootState, &QState::entered, this, [this] { rebootWaitTimer.start(rebootReturnLimitMs); },
        Qt::DirectConnection);
    connect(awaitRebootState, &QState::exited, &rebootWaitTimer, &QTimer::stop, Qt::DirectConnection);
    const auto tellRebootFailure = [this] {
        showMessage(MessageKind::Critical, QStringLiteral("Reboot Failure"),
            QStringLiteral("The device failed to reboot after update.\n\n%1 What is left of the update is "
                           "then planned again.")
                .arg(QLatin1String(replugInstruction)));
    };
    // A device still on the bus failed to connect; one that went away again is to be connected.
    auto* rebootFailed = new GuardedTransition(
        noDeviceState, &QState::entered, [this] { return selectableConnection().has_value(); });
    rebootFailed->setTargetState(promptReplugState);
    awaitRebootState->addTransition(rebootFailed);
    connect(rebootFailed, &QAbstractTransition::triggered, this, tellRebootFailure);
    QSignalTransition* rebootLost
        = awaitRebootState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    connect(rebootLost, &QAbstractTransition::triggered, this, tellRebootFailure);
    QSignalTransition* rebootExpired
        = awaitRebootState->addTransition(this, &UpdateWorkflow::rebootWaitExpired, promptReplugState);
    connect(rebootExpired, &QAbstractTransition::triggered, this, tellRebootFailure);

    // The updater's own version check: its initial state makes it run once at every start-up,
    // silently (start() sets silentAppUpdateCheck before the first step).
    auto* appUpdateRegion = newState(WorkflowStates::appUpdateRegion, m_regions);
    auto* appCheckIdleState = newState(WorkflowStates::appCheckIdleState, appUpdateRegion);
    auto* appCheckRunningState = newState(WorkflowStates::appCheckRunningState, appUpdateRegion);
    auto* appCheckDoneState = newState(WorkflowStates::appCheckDoneState, appUpdateRegion);
    auto* appUpdateAcceptedState = newState(WorkflowStates::appUpdateAcceptedState, appUpdateRegion);
    auto* appCheckFailedState = newState(WorkflowStates::appCheckFailedState, appUpdateRegion);
    appUpdateRegion->setInitialState(appCheckRunningState);

    connect(
        appCheckIdleState, &QState::entered, this, [this] { silentAppUpdateCheck = false; },
        Qt::DirectConnection);
    connect(appCheckRunningState, &QState::entered, updateManager, &UpdateManager::checkForUpdates,
        Qt::DirectConnection);
    connect(
        appCheckDoneState, &QState::entered, this, &UpdateWorkflow::evaluateAppUpdate, Qt::DirectConnection);
    connect(appUpdateAcceptedState, &QState::entered, this, &UpdateWorkflow::openAppUpdateUrl,
        Qt::DirectConnection);
    connect(
        appCheckFailedState, &QState::entered, this,
        [this] {
            if (!silentAppUpdateCheck) {
                showMessage(MessageKind::Critical, QString(),
                    QStringLiteral("Failed to check for new version of Pelk Updater."));
            }
        },
        Qt::DirectConnection);

    appCheckIdleState->addTransition(this, &UpdateWorkflow::checkAppUpdatesRequest, appCheckRunningState);
    appCheckRunningState->addTransition(
        updateManager, &UpdateManager::updateDiscoveryDone, appCheckDoneState);
    appCheckRunningState->addTransition(updateManager, &UpdateManager::failure, appCheckFailedState);
    appCheckDoneState->addTransition(this, &UpdateWorkflow::appUpdatesConfirmed, appUpdateAcceptedState);
    appCheckDoneState->addTransition(this, &UpdateWorkflow::appUpdatesRejected, appCheckIdleState);
    appUpdateAcceptedState->addTransition(appCheckIdleState);
    appCheckFailedState->addTransition(appCheckIdleState);

    m_ownRegions = { workflowRegion, appUpdateRegion };

    // How the update ends: the step that ends it names the outcome; anything else that leaves
    // updatingState (a failed download or install, a lost device, a failed restart) is a failure.
    connect(
        updatingState, &QState::entered, this,
        [this] {
            updateRunning = true;
            endingOutcome = UpdateOutcome::Failed;
        },
        Qt::DirectConnection);
    connect(this, &UpdateWorkflow::updateFinished, this, [this] { endingOutcome = UpdateOutcome::Done; });
    connect(this, &UpdateWorkflow::componentNotApplied, this,
        [this] { endingOutcome = UpdateOutcome::NotApplied; });
    connect(this, &UpdateWorkflow::foreignDeviceReturned, this, [this] {
        if (updateRunning)
            endingOutcome = UpdateOutcome::Stopped;
    });

    // Tells the face of every state entered; connected last, after the workflow's own steps.
    const auto states = stateMachine.findChildren<QState*>();
    for (QState* state : states) {
        connect(
            state, &QState::entered, this, [this, state] { emit stateEntered(state->objectName()); },
            Qt::DirectConnection);
    }
    const QList<QPair<QState*, WorkflowPhase>> phases = { { promptConnectState, WorkflowPhase::NoDevice },
        { promptWaitState, WorkflowPhase::Connecting }, { promptReplugState, WorkflowPhase::NotAnswering },
        { nothingToInstallState, WorkflowPhase::Idle }, { checkingState, WorkflowPhase::Checking },
        { readyToInstallState, WorkflowPhase::Planned }, { updatingState, WorkflowPhase::Updating },
        { nextComponentState, WorkflowPhase::NextComponent },
        { downloadingState, WorkflowPhase::Downloading }, { downloadAllState, WorkflowPhase::Downloading },
        { awaitUpdateModeState, WorkflowPhase::AwaitingUpdateMode },
        { installingState, WorkflowPhase::Installing }, { awaitFinishState, WorkflowPhase::AwaitingFinish },
        { rebootTimeoutState, WorkflowPhase::AwaitingPowerCycle },
        { awaitRebootState, WorkflowPhase::AwaitingReboot } };
    for (const auto& entry : phases) {
        const WorkflowPhase phase = entry.second;
        connect(
            entry.first, &QState::entered, this,
            [this, phase] {
                currentPhase = phase;
                emit phaseChanged(phase);
            },
            Qt::DirectConnection);
    }
    // The update's end is told once the workflow rests again, so that the plan a face then reads
    // is the one made against the restarted device.
    for (QState* resting :
        { nothingToInstallState, readyToInstallState, promptConnectState, promptReplugState }) {
        connect(resting, &QState::entered, this, &UpdateWorkflow::reportUpdateEnd, Qt::DirectConnection);
    }
    connect(
        updatingState, &QState::exited, this, [this] { updateEndDue = updateRunning; }, Qt::DirectConnection);
}

} // namespace PelkPlus
