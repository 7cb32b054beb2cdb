// The workflow state machine: four parallel regions driven by the window's and the agents' signals.
#include "ui/MainWindow.h"

#include "device/DeviceMonitor.h"
#include "ui/DeviceStatusView.h"
#include "ui/MessageBox.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManager.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalTransition>
#include <QStackedWidget>
#include <QState>

namespace PelkPlus {

namespace {

QState* newState(const char* name, QState* parent)
{
    auto* state = new QState(parent);
    state->setObjectName(QLatin1String(name));
    return state;
}

} // namespace

void MainWindow::createStateMachine()
{
    // The regions follow the device, the panel, the workflow and the updater check side by side.
    // Qt refuses a machine that is itself parallel, so one parallel state holds the four regions.
    // Assignments stay after their state is left, until another state assigns the property again.
    // Parented to the window, like its widgets, so that it can be found among its children by name.
    stateMachine.setParent(this);
    stateMachine.setObjectName(QStringLiteral("stateMachine"));
    auto* regions = newState("regions", &stateMachine);
    regions->setChildMode(QState::ParallelStates);
    stateMachine.setInitialState(regions);

    // Device region: alone follows the device's connection; the other regions follow it through
    // its states being entered.
    auto* deviceRegion = newState("deviceRegion", regions);
    auto* noDeviceState = newState("noDeviceState", deviceRegion);
    auto* connectingState = newState("connectingState", deviceRegion);
    auto* deviceReadyState = newState("deviceReadyState", deviceRegion);
    deviceRegion->setInitialState(noDeviceState);

    connect(noDeviceState, &QState::entered, this, &MainWindow::forgetDevice, Qt::DirectConnection);
    connect(connectingState, &QState::entered, this, &MainWindow::selectDevice, Qt::DirectConnection);

    noDeviceState->addTransition(deviceMonitor, &DeviceMonitor::connected, connectingState);
    connectingState->addTransition(this, &MainWindow::deviceReady, deviceReadyState);
    QSignalTransition* connectFailed
        = connectingState->addTransition(this, &MainWindow::deviceFailure, noDeviceState);
    connect(connectFailed, &QAbstractTransition::triggered, this, [this] {
        showMessage(QMessageBox::Critical, QStringLiteral("Connection Failure"),
            QStringLiteral("Failed to connect to device."));
    });
    connectingState->addTransition(this, &MainWindow::deviceDisconnected, noDeviceState);
    deviceReadyState->addTransition(this, &MainWindow::deviceDisconnected, noDeviceState);

    // Device panel: both logos and a short text until the device is ready, then its description.
    auto* deviceInfoRegion = newState("deviceInfoRegion", regions);
    auto* infoNoDeviceState = newState("infoNoDeviceState", deviceInfoRegion);
    auto* infoWaitingState = newState("infoWaitingState", deviceInfoRegion);
    auto* infoShownState = newState("infoShownState", deviceInfoRegion);
    deviceInfoRegion->setInitialState(infoNoDeviceState);

    infoNoDeviceState->assignProperty(baseLogo, "visible", true);
    infoNoDeviceState->assignProperty(plusLogo, "visible", true);
    infoNoDeviceState->assignProperty(deviceStatusView, "text", QStringLiteral("No device connected"));
    infoWaitingState->assignProperty(deviceStatusView, "text", QStringLiteral("Waiting..."));

    connect(infoShownState, &QState::entered, this, &MainWindow::showDevice, Qt::DirectConnection);

    infoNoDeviceState->addTransition(connectingState, &QState::entered, infoWaitingState);
    infoWaitingState->addTransition(noDeviceState, &QState::entered, infoNoDeviceState);
    infoWaitingState->addTransition(deviceReadyState, &QState::entered, infoShownState);
    infoShownState->addTransition(noDeviceState, &QState::entered, infoNoDeviceState);

    // Workflow: the pages, the check for updates and the update itself.
    auto* workflowRegion = newState("workflowRegion", regions);
    auto* promptConnectState = newState("promptConnectState", workflowRegion);
    auto* promptWaitState = newState("promptWaitState", workflowRegion);
    auto* activeDeviceState = newState("activeDeviceState", workflowRegion);
    auto* selectionState = newState("selectionState", activeDeviceState);
    auto* idleState = newState("idleState", selectionState);
    auto* nothingToInstallState = newState("nothingToInstallState", idleState);
    auto* readyToInstallState = newState("readyToInstallState", idleState);
    auto* checkingState = newState("checkingState", selectionState);
    auto* fetchManifestState = newState("fetchManifestState", checkingState);
    auto* planUpdateState = newState("planUpdateState", checkingState);
    auto* fetchManifestForceState = newState("fetchManifestForceState", checkingState);
    auto* planForceInstallState = newState("planForceInstallState", checkingState);
    auto* updatingState = newState("updatingState", activeDeviceState);
    auto* nextComponentState = newState("nextComponentState", updatingState);
    auto* downloadingState = newState("downloadingState", updatingState);
    auto* awaitUpdateModeState = newState("awaitUpdateModeState", updatingState);
    auto* installingState = newState("installingState", updatingState);
    auto* installFailedState = newState("installFailedState", updatingState);
    auto* awaitFinishState = newState("awaitFinishState", updatingState);
    auto* rebootTimeoutState = newState("rebootTimeoutState", updatingState);
    auto* awaitRebootState = newState("awaitRebootState", updatingState);
    workflowRegion->setInitialState(promptConnectState);
    activeDeviceState->setInitialState(selectionState);
    selectionState->setInitialState(idleState);
    idleState->setInitialState(nothingToInstallState);
    // Entering checkingState directly re-plans from the manifest already held; only the two
    // explicit transitions into the fetch states download it again.
    checkingState->setInitialState(planUpdateState);
    updatingState->setInitialState(nextComponentState);

    promptConnectState->assignProperty(promptLabel, "text", QStringLiteral("Please connect a PELK device."));
    promptConnectState->assignProperty(pages, "currentIndex", 0);
    promptWaitState->assignProperty(
        promptLabel, "text", QStringLiteral("Waiting for the PELK device to get ready..."));
    selectionState->assignProperty(pages, "currentIndex", 1);
    idleState->assignProperty(checkUpdatesButton, "enabled", true);
    idleState->assignProperty(installActions, "enabled", true);
    idleState->assignProperty(checkAppUpdateAction, "enabled", true);
    nothingToInstallState->assignProperty(startUpdateButton, "enabled", false);
    readyToInstallState->assignProperty(startUpdateButton, "enabled", true);
    checkingState->assignProperty(updatesHeading, "text", QStringLiteral("Checking for latest updates..."));
    checkingState->assignProperty(updatesHeading, "mode", int(MessageMode::Information));
    checkingState->assignProperty(checkUpdatesButton, "enabled", false);
    checkingState->assignProperty(warningsBox, "mode", int(MessageMode::Hidden));
    checkingState->assignProperty(checkAppUpdateAction, "enabled", false);
    updatingState->assignProperty(pages, "currentIndex", 2);
    updatingState->assignProperty(downloadLabel, "visible", true);
    updatingState->assignProperty(downloadProgress, "visible", true);
    updatingState->assignProperty(
        statusMessage, "text", QStringLiteral("Please do NOT disconnect or power down the device!"));
    updatingState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    nextComponentState->assignProperty(statusMessage, "mode", int(MessageMode::Hidden));
    installingState->assignProperty(statusMessage, "text",
        QStringLiteral("Update in progress...\n\nPlease DO NOT disconnect or power down the device!"));
    installingState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    awaitFinishState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    awaitFinishState->assignProperty(statusMessage, "text",
        QStringLiteral("Waiting for confirmation that the update is finished...\n\n"
                       "Please DO NOT disconnect or power down the device!"));
    awaitRebootState->assignProperty(statusMessage, "mode", int(MessageMode::Information));
    awaitRebootState->assignProperty(
        statusMessage, "text", QStringLiteral("Waiting for the device to reboot..."));

    connect(activeDeviceState, &QState::entered, this, &MainWindow::resetUpdatePlan, Qt::DirectConnection);
    connect(activeDeviceState, &QState::exited, this, &MainWindow::resetUpdatePlan, Qt::DirectConnection);
    // A component file written to the device is the one thing the user must not start by accident.
    connect(
        idleState, &QState::exited, this, [this] { installActions->setEnabled(false); },
        Qt::DirectConnection);
    connect(
        nothingToInstallState, &QState::entered, this, &MainWindow::refreshUpdateList, Qt::DirectConnection);
    connect(
        readyToInstallState, &QState::entered, this, &MainWindow::refreshUpdateList, Qt::DirectConnection);
    connect(fetchManifestState, &QState::entered, this, &MainWindow::startUpdateCheck, Qt::DirectConnection);
    connect(
        planUpdateState, &QState::entered, this, [this] { planUpdate(false); }, Qt::DirectConnection);
    connect(
        fetchManifestForceState, &QState::entered, this, &MainWindow::startUpdateCheck, Qt::DirectConnection);
    connect(
        planForceInstallState, &QState::entered, this, [this] { planUpdate(true); }, Qt::DirectConnection);
    // Sleep is kept off before the first step of the update and allowed again however it ends.
    connect(updatingState, &QState::entered, this, &MainWindow::enableSleepPrevention, Qt::DirectConnection);
    connect(updatingState, &QState::entered, this, &MainWindow::beginUpdate, Qt::DirectConnection);
    connect(updatingState, &QState::exited, this, &MainWindow::disableSleepPrevention, Qt::DirectConnection);
    connect(
        nextComponentState, &QState::entered, this, &MainWindow::selectNextComponent, Qt::DirectConnection);
    connect(downloadingState, &QState::entered, this, &MainWindow::downloadComponent, Qt::DirectConnection);
    connect(awaitUpdateModeState, &QState::entered, this, &MainWindow::awaitUpdateMode, Qt::DirectConnection);
    connect(installingState, &QState::entered, this, &MainWindow::onDownloadFinished, Qt::DirectConnection);
    connect(
        installFailedState, &QState::entered, this,
        [this] {
            showMessage(QMessageBox::Critical, QStringLiteral("Update Failure"),
                QStringLiteral("The update could not be completed."));
        },
        Qt::DirectConnection);
    connect(awaitFinishState, &QState::entered, this, &MainWindow::startRebootTimer, Qt::DirectConnection);
    connect(rebootTimeoutState, &QState::entered, this, &MainWindow::requestPowerCycle, Qt::DirectConnection);

    promptConnectState->addTransition(connectingState, &QState::entered, promptWaitState);
    promptWaitState->addTransition(deviceReadyState, &QState::entered, activeDeviceState);
    promptWaitState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    // Losing the device ends whatever runs, except during the reboot wait, whose own transitions
    // on the same event are innermost and win.
    activeDeviceState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    idleState->addTransition(this, &MainWindow::forceInstallComponentRequest, updatingState);
    idleState->addTransition(this, &MainWindow::forceInstallAllComponentsRequest, fetchManifestForceState);
    nothingToInstallState->addTransition(this, &MainWindow::checkUpdatesRequest, fetchManifestState);
    readyToInstallState->addTransition(this, &MainWindow::checkUpdatesRequest, fetchManifestState);
    readyToInstallState->addTransition(startUpdateButton, &QPushButton::clicked, updatingState);
    QSignalTransition* checkFailed
        = checkingState->addTransition(updateManager, &UpdateManager::failure, nothingToInstallState);
    connect(checkFailed, &QAbstractTransition::triggered, this, [this] {
        showMessage(QMessageBox::Critical, QStringLiteral("Update Check Failure"),
            QStringLiteral("Failed to check for updates!"));
    });
    checkingState->addTransition(this, &MainWindow::updatesAvailable, readyToInstallState);
    checkingState->addTransition(this, &MainWindow::noUpdatesAvailable, nothingToInstallState);
    fetchManifestState->addTransition(updateManager, &UpdateManager::updateDiscoveryDone, planUpdateState);
    fetchManifestForceState->addTransition(
        updateManager, &UpdateManager::updateDiscoveryDone, planForceInstallState);
    nextComponentState->addTransition(this, &MainWindow::componentSelected, downloadingState);
    nextComponentState->addTransition(this, &MainWindow::updateFinished, checkingState);
    QSignalTransition* downloadFailed
        = downloadingState->addTransition(this, &MainWindow::downloadFailure, checkingState);
    connect(downloadFailed, &QAbstractTransition::triggered, this, [this] {
        showMessage(QMessageBox::Critical, QStringLiteral("Download Failure"),
            QStringLiteral("Failed to download updates."));
    });
    downloadingState->addTransition(downloadAgent, &DownloadAgent::finished, awaitUpdateModeState);
    downloadingState->addTransition(this, &MainWindow::componentDownloadSkipped, awaitUpdateModeState);
    awaitUpdateModeState->addTransition(this, &MainWindow::deviceReadyForUpdate, installingState);
    installingState->addTransition(this, &MainWindow::deviceFailure, installFailedState);
    installingState->addTransition(this, &MainWindow::installFailure, installFailedState);
    installingState->addTransition(this, &MainWindow::deviceDone, awaitFinishState);
    installFailedState->addTransition(checkingState);
    awaitFinishState->addTransition(noDeviceState, &QState::entered, awaitRebootState);
    awaitFinishState->addTransition(&rebootTimer, &QTimer::timeout, rebootTimeoutState);
    rebootTimeoutState->addTransition(noDeviceState, &QState::entered, awaitRebootState);
    awaitRebootState->addTransition(deviceReadyState, &QState::entered, nextComponentState);
    QSignalTransition* rebootFailed
        = awaitRebootState->addTransition(noDeviceState, &QState::entered, promptConnectState);
    connect(rebootFailed, &QAbstractTransition::triggered, this, [this] {
        showMessage(QMessageBox::Critical, QStringLiteral("Reboot Failure"),
            QStringLiteral("The device failed to reboot after update."));
    });

    // The updater's own version check: its initial state makes it run once at every start-up,
    // silently (the constructor sets silentAppUpdateCheck before the first step).
    auto* appUpdateRegion = newState("appUpdateRegion", regions);
    auto* appCheckIdleState = newState("appCheckIdleState", appUpdateRegion);
    auto* appCheckRunningState = newState("appCheckRunningState", appUpdateRegion);
    auto* appCheckDoneState = newState("appCheckDoneState", appUpdateRegion);
    auto* appUpdateAcceptedState = newState("appUpdateAcceptedState", appUpdateRegion);
    auto* appCheckFailedState = newState("appCheckFailedState", appUpdateRegion);
    appUpdateRegion->setInitialState(appCheckRunningState);

    appCheckIdleState->assignProperty(checkUpdatesButton, "enabled", true);
    appCheckRunningState->assignProperty(checkUpdatesButton, "enabled", false);

    connect(
        appCheckIdleState, &QState::entered, this, [this] { silentAppUpdateCheck = false; },
        Qt::DirectConnection);
    connect(appCheckRunningState, &QState::entered, updateManager, &UpdateManager::checkForUpdates,
        Qt::DirectConnection);
    connect(appCheckDoneState, &QState::entered, this, &MainWindow::evaluateAppUpdate, Qt::DirectConnection);
    connect(
        appUpdateAcceptedState, &QState::entered, this, &MainWindow::openAppUpdateUrl, Qt::DirectConnection);
    connect(
        appCheckFailedState, &QState::entered, this,
        [this] {
            if (!silentAppUpdateCheck) {
                showMessage(QMessageBox::Critical, QString(),
                    QStringLiteral("Failed to check for new version of Pelk Updater."));
            }
        },
        Qt::DirectConnection);

    appCheckIdleState->addTransition(this, &MainWindow::checkAppUpdatesRequest, appCheckRunningState);
    appCheckRunningState->addTransition(
        updateManager, &UpdateManager::updateDiscoveryDone, appCheckDoneState);
    appCheckRunningState->addTransition(updateManager, &UpdateManager::failure, appCheckFailedState);
    appCheckDoneState->addTransition(this, &MainWindow::appUpdatesConfirmed, appUpdateAcceptedState);
    appCheckDoneState->addTransition(this, &MainWindow::appUpdatesRejected, appCheckIdleState);
    appUpdateAcceptedState->addTransition(appCheckIdleState);
    appCheckFailedState->addTransition(appCheckIdleState);
}

} // namespace PelkPlus
