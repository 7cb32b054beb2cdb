#include "workflow/WorkflowRegion.h"

#include "device/DeviceModel.h"
#include "device/DeviceMonitor.h"
#include "update/DownloadAgent.h"
#include "update/DownloadReplies.h"
#include "update/UpdateManager.h"
#include "workflow/ComponentDownloads.h"
#include "workflow/DeviceSelection.h"
#include "workflow/GuardedTransition.h"
#include "workflow/NamedState.h"
#include "workflow/PlanExecution.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/WorkflowPlan.h"
#include "workflow/WorkflowStates.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSignalTransition>
#include <QState>

namespace PelkPlus {

namespace {

QState* stateIn(const QState* regions, const char* name)
{
    QState* found = regions->findChild<QState*>(QLatin1String(name));
    Q_ASSERT_X(found, "WorkflowRegion", name);
    return found;
}

} // namespace

WorkflowRegion::WorkflowRegion(const Parts& collaborators, QObject* parent)
    : QObject(parent)
    , parts(collaborators)
{ }

WorkflowRegion::~WorkflowRegion() = default;

QString WorkflowRegion::checkFailureText(int reason, const QString& detail, const QString& server)
{
    switch (reason) {
    case UpdateManager::UnverifiedCatalogue:
        return QStringLiteral("The update catalogue could not be verified, so no updates are offered. "
                              "Nothing was sent to the device.\n\n%1")
            .arg(detail);
    case UpdateManager::RefusedCatalogue:
        return QStringLiteral("The update catalogue was refused, so no updates are offered. Nothing was "
                              "sent to the device.\n\n%1")
            .arg(detail);
    case UpdateManager::NotACatalogue:
        return detail;
    default:
        break;
    }
    // The fixed text, then the reason (a refused connection, a 404, a server too slow) and the
    // server it came from, then what to try.
    QString text = QStringLiteral("Failed to check for updates!");
    if (!detail.isEmpty())
        text += QStringLiteral("\n\n") + detail;
    // A server that answered "not found" or "forbidden" was reached: what is wrong is the address.
    static const QRegularExpression clientError(QStringLiteral("\\bHTTP 4\\d\\d\\b"));
    QString next;
    if (server.isEmpty())
        next = updateFailureNextStep(UpdateFailure::Check);
    else if (clientError.match(detail).hasMatch())
        next = QStringLiteral(
            "%1 answered, but has no update catalogue at that address. Check the catalogue's "
            "address (manifest-url in the settings), then check for updates again.")
                   .arg(server);
    else
        next = QStringLiteral(
            "Check that this computer is online and can reach %1, then check for updates again.")
                   .arg(server);
    return text + QStringLiteral("\n\n") + next;
}

QString WorkflowRegion::downloadFailureText(DownloadFailure kind, const QString& detail)
{
    QString reason;
    switch (kind) {
    case DownloadFailure::FileError:
        reason = QStringLiteral("The downloaded file could not be written on this computer.");
        break;
    case DownloadFailure::Refused:
        reason = QStringLiteral("The download was refused: the address is not an http or https address, or "
                                "the server did not say how large the file is.");
        break;
    case DownloadFailure::Network:
        reason = QStringLiteral("The server could not be reached, or the connection was lost, and trying "
                                "again did not help.");
        break;
    case DownloadFailure::Server:
        reason = QStringLiteral("The server answered with an error.");
        break;
    case DownloadFailure::Size:
        reason = QStringLiteral("The file does not have the size the catalogue gives.");
        break;
    case DownloadFailure::Digest:
        reason = QStringLiteral("The file is not the one the catalogue describes.");
        break;
    case DownloadFailure::TooSlow:
        reason = detail.isEmpty() ? QStringLiteral("The server sent the file too slowly.") : detail;
        break;
    case DownloadFailure::None:
        break;
    }
    QString text = QStringLiteral("Failed to download updates.");
    if (!reason.isEmpty())
        text += QStringLiteral("\n\n") + reason;
    return text + QStringLiteral("\n\nNothing was sent to the device. ")
        + updateFailureNextStep(UpdateFailure::Download);
}

void WorkflowRegion::startUpdateCheck()
{
    parts.plan.reset();
    parts.plan.beginFetch();
    emit checkFailureChanged(QString());
    emit planChanged();
    // A check that is already under way (the start-up updater check) delivers the result.
    parts.manager->checkForUpdates();
}

void WorkflowRegion::planUpdate(bool forceAll)
{
    parts.plan.reset();
    const DeviceInfo info = parts.selection.deviceInfo();
    // A re-plan after an update or a failure rests on the check that made the plan; the update
    // manager's data may have been cleared by a check for a newer updater since.
    if (parts.plan.needsSource()) {
        const QList<Component> components = parts.manager->componentsFor(UpdatePlanner::productFor(info));
        parts.plan.setSource(components, parts.manager->manifestTime(), parts.manager->isCatalogueVerified());
        // A bundle made for the other model is not "no updates": the user holds the wrong file.
        if (components.isEmpty() && parts.manager->bundle()) {
            emit failureNoted(UpdateFailure::Bundle);
            emit messageRequested(MessageKind::Critical, QStringLiteral("Update Bundle"),
                QStringLiteral(
                    "The update bundle holds no update for the %1. Nothing was sent to the device.")
                    .arg(QLatin1String(modelName(info.model))));
        }
    }
    if (parts.plan.make(info, forceAll))
        emit updatesAvailable();
    else
        emit noUpdatesAvailable();
}

void WorkflowRegion::resumeIfReturned()
{
    if (!parts.selection.hasResumeDevice())
        return;
    const bool planned = parts.plan.hasSource();
    if (parts.selection.takeResumeDevice() && planned) {
        qDebug() << "The device is back: planning what is left of its update.";
        emit resumeRequested();
    } else {
        parts.plan.forgetSource();
    }
}

QState* WorkflowRegion::build(QState* regions)
{
    QState* noDeviceState = stateIn(regions, WorkflowStates::noDeviceState);
    QState* connectingState = stateIn(regions, WorkflowStates::connectingState);
    QState* deviceReadyState = stateIn(regions, WorkflowStates::deviceReadyState);
    WorkflowPlan& plan = parts.plan;
    DeviceSelection& selection = parts.selection;
    PlanExecution& execution = parts.execution;
    ComponentDownloads& downloads = parts.downloads;
    auto* workflowRegion = newState(WorkflowStates::workflowRegion, regions);
    region = workflowRegion;
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

    const auto onEntry = [this](QState* state, auto action) {
        connect(state, &QState::entered, this, action, Qt::DirectConnection);
    };
    const auto onExit = [this](QState* state, auto action) {
        connect(state, &QState::exited, this, action, Qt::DirectConnection);
    };
    onEntry(activeDeviceState, [&plan] { plan.reset(); });
    onExit(activeDeviceState, [&plan] { plan.reset(); });
    // A plan rests on a check of this device; another device is checked afresh. The device whose
    // update ended while it restarted keeps its check, and what is left is planned again when it
    // is back.
    onExit(activeDeviceState, [&plan, &selection] {
        if (!selection.hasResumeDevice())
            plan.forgetSource();
    });
    onEntry(activeDeviceState, [this] { resumeIfReturned(); });
    onEntry(nothingToInstallState, [this] { emit planChanged(); });
    onEntry(readyToInstallState, [this] { emit planChanged(); });
    onEntry(fetchManifestState, [this] { startUpdateCheck(); });
    for (QState* fetching : { fetchManifestState, fetchManifestForceState })
        onExit(fetching, [&plan] { plan.endFetch(); });
    onEntry(planUpdateState, [this] { planUpdate(false); });
    onEntry(fetchManifestForceState, [this] { startUpdateCheck(); });
    onEntry(planForceInstallState, [this] { planUpdate(true); });
    // Sleep is kept off before the first step of the update and allowed again however it ends.
    onEntry(updatingState, [&execution] { execution.enableSleepPrevention(); });
    onEntry(updatingState, [&execution] { execution.begin(); });
    onExit(updatingState, [&execution] { execution.disableSleepPrevention(); });
    onExit(
        updatingState, [this, &execution] { execution.end(currentPhase == WorkflowPhase::AwaitingReboot); });
    onEntry(nextComponentState, [&execution] { execution.selectNextComponent(); });
    onEntry(downloadingState, [&downloads] { downloads.downloadCurrent(); });
    // However the step is left, its download ends with it.
    onExit(downloadingState, [&downloads] { downloads.abort(); });
    onEntry(downloadAllState, [&downloads] { downloads.downloadAll(); });
    onExit(downloadAllState, [&downloads] { downloads.abort(); });
    onEntry(awaitUpdateModeState, [&execution] { execution.awaitUpdateMode(); });
    onEntry(installingState, [&execution] { execution.sendCurrent(); });
    onEntry(installFailedState, [&execution] { execution.tellInstallFailure(); });
    onEntry(awaitFinishState, [&execution] { execution.startRebootTimer(); });
    onEntry(rebootTimeoutState, [&execution] { execution.requestPowerCycle(); });

    // The workflow is ready for a device again, perhaps one the device region could not take before.
    onEntry(promptConnectState, [&selection] { selection.offerListedDevice(); });
    promptConnectState->addTransition(connectingState, &QState::entered, promptWaitState);
    promptWaitState->addTransition(deviceReadyState, &QState::entered, activeDeviceState);
    // A device on the bus that did not answer, or answered wrongly, is to be plugged in again.
    promptWaitState->addTransition(new GuardedTransition(
        noDeviceState, &QState::entered, [&selection] { return selection.isOfferSuppressed(); },
        promptReplugState));
    promptWaitState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    promptReplugState->addTransition(connectingState, &QState::entered, promptWaitState);
    // Unplugged and not yet plugged in again.
    promptReplugState->addTransition(new GuardedTransition(
        parts.monitor, &DeviceMonitor::disconnected,
        [&selection] { return !selection.selectableConnection(); }, promptConnectState));
    // Losing the device ends whatever runs, except during the reboot wait, whose own transitions
    // on the same event are innermost and win.
    activeDeviceState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    idleState->addTransition(this, &WorkflowRegion::forceInstallComponentRequest, updatingState);
    idleState->addTransition(
        this, &WorkflowRegion::forceInstallAllComponentsRequest, fetchManifestForceState);
    idleState->addTransition(this, &WorkflowRegion::resumeRequested, checkingState);
    nothingToInstallState->addTransition(this, &WorkflowRegion::checkUpdatesRequest, fetchManifestState);
    readyToInstallState->addTransition(this, &WorkflowRegion::checkUpdatesRequest, fetchManifestState);
    readyToInstallState->addTransition(this, &WorkflowRegion::updateStartRequested, updatingState);
    QSignalTransition* checkFailed
        = checkingState->addTransition(parts.manager, &UpdateManager::failure, nothingToInstallState);
    connect(checkFailed, &QAbstractTransition::triggered, this, [this] {
        emit failureNoted(UpdateFailure::Check);
        // Kept for the page, which says what to try once the box is gone.
        const QString text = checkFailureText(parts.manager->failureReason(), parts.manager->failureText(),
            DownloadReplies::displayServer(parts.manager->catalogueUrl()));
        emit checkFailureChanged(text);
        emit planChanged();
        emit messageRequested(MessageKind::Critical, QStringLiteral("Update Check Failure"), text);
    });
    // A cancelled check leaves the device's page as before a check, with nothing to tell.
    checkingState->addTransition(parts.manager, &UpdateManager::cancelled, nothingToInstallState);
    checkingState->addTransition(this, &WorkflowRegion::updatesAvailable, readyToInstallState);
    checkingState->addTransition(this, &WorkflowRegion::noUpdatesAvailable, nothingToInstallState);
    fetchManifestState->addTransition(parts.manager, &UpdateManager::updateDiscoveryDone, planUpdateState);
    fetchManifestForceState->addTransition(
        parts.manager, &UpdateManager::updateDiscoveryDone, planForceInstallState);
    nextComponentState->addTransition(&execution, &PlanExecution::componentSelected, downloadingState);
    nextComponentState->addTransition(&execution, &PlanExecution::updateFinished, checkingState);
    nextComponentState->addTransition(&execution, &PlanExecution::componentNotApplied, checkingState);
    nextComponentState->addTransition(&execution, &PlanExecution::downloadsRequired, downloadAllState);
    for (QState* fetching : { downloadingState, downloadAllState }) {
        QSignalTransition* downloadFailed
            = fetching->addTransition(&downloads, &ComponentDownloads::downloadFailure, checkingState);
        connect(downloadFailed, &QAbstractTransition::triggered, this, [this] {
            emit failureNoted(UpdateFailure::Download);
            emit messageRequested(MessageKind::Critical, QStringLiteral("Download Failure"),
                downloadFailureText(parts.downloadAgent->failureKind(), parts.downloadAgent->failureText()));
        });
    }
    // Every file has arrived whole and matches the catalogue: the first component may go. Only the
    // download this step started moves it on.
    const auto ownDownload = [&downloads] { return downloads.isRunning(); };
    downloadAllState->addTransition(new GuardedTransition(
        parts.downloadAgent, &DownloadAgent::finished, ownDownload, nextComponentState));
    downloadingState->addTransition(new GuardedTransition(
        parts.downloadAgent, &DownloadAgent::finished, ownDownload, awaitUpdateModeState));
    downloadingState->addTransition(
        &downloads, &ComponentDownloads::componentDownloadSkipped, awaitUpdateModeState);
    awaitUpdateModeState->addTransition(&selection, &DeviceSelection::deviceReadyForUpdate, installingState);
    // A device that took not one ready query is not sent the update.
    awaitUpdateModeState->addTransition(&selection, &DeviceSelection::deviceFailure, installFailedState);
    installingState->addTransition(&selection, &DeviceSelection::deviceFailure, installFailedState);
    installingState->addTransition(&execution, &PlanExecution::installFailure, installFailedState);
    installingState->addTransition(&selection, &DeviceSelection::deviceDone, awaitFinishState);
    installFailedState->addTransition(checkingState);
    awaitFinishState->addTransition(noDeviceState, &QState::entered, awaitRebootState);
    awaitFinishState->addTransition(execution.rebootTimer(), &QTimer::timeout, rebootTimeoutState);
    rebootTimeoutState->addTransition(noDeviceState, &QState::entered, awaitRebootState);
    awaitRebootState->addTransition(deviceReadyState, &QState::entered, nextComponentState);
    // Only another device came back: the update stops; nothing is sent to that device.
    updatingState->addTransition(&selection, &DeviceSelection::foreignDeviceReturned, promptConnectState);
    // The device came back and failed to connect, or did not come back in time: one message, and
    // the instruction that goes on with the update.
    onEntry(awaitRebootState, [&selection] { selection.startRebootWait(); });
    onExit(awaitRebootState, [&selection] { selection.stopRebootWait(); });
    const auto tellRebootFailure = [this, &selection] {
        selection.failureTold();
        emit failureNoted(UpdateFailure::Reboot);
        emit messageRequested(MessageKind::Critical, QStringLiteral("Reboot Failure"),
            updateFailureCause(UpdateFailure::Reboot) + QStringLiteral("\n\n")
                + updateFailureNextStep(UpdateFailure::Reboot));
    };
    // Inside the reboot window a failed connection (access refused, no header, a wrong answer) or a
    // device that went away again is a device not back yet: it is offered again after a pause
    // (DeviceSelection) until the window ends, and only then is the reboot a failure. Taken first,
    // it also keeps the loss of the device from ending the update.
    awaitRebootState->addTransition(new GuardedTransition(
        noDeviceState, &QState::entered, [&selection] { return selection.rebootWaitOpen(); }, nullptr));
    // A device still on the bus failed to connect; one that went away again is to be connected.
    auto* rebootFailed = new GuardedTransition(
        noDeviceState, &QState::entered,
        [&selection] { return selection.selectableConnection().has_value(); }, promptReplugState);
    awaitRebootState->addTransition(rebootFailed);
    connect(rebootFailed, &QAbstractTransition::triggered, this, tellRebootFailure);
    QSignalTransition* rebootLost
        = awaitRebootState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    connect(rebootLost, &QAbstractTransition::triggered, this, tellRebootFailure);
    QSignalTransition* rebootExpired
        = awaitRebootState->addTransition(&selection, &DeviceSelection::rebootWaitExpired, promptReplugState);
    connect(rebootExpired, &QAbstractTransition::triggered, this, tellRebootFailure);
    return workflowRegion;
}

void WorkflowRegion::connectPhases(const std::function<void(WorkflowPhase)>& enter)
{
    using namespace WorkflowStates;
    const QList<QPair<const char*, WorkflowPhase>> phases = { { promptConnectState, WorkflowPhase::NoDevice },
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
            stateIn(region, entry.first), &QState::entered, this,
            [this, enter, phase] {
                currentPhase = phase;
                enter(phase);
            },
            Qt::DirectConnection);
    }
}

} // namespace PelkPlus
