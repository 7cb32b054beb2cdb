// The window's part of the workflow's state machine: the device panel, a region of its own, and
// what each state of the workflow shows.
#include "ui/MainWindow.h"

#include "ui/DeviceStatusView.h"
#include "ui/MessageBox.h"
#include "workflow/NamedState.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowPhase.h"
#include "workflow/WorkflowStates.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QState>

namespace PelkPlus {

void MainWindow::createStateMachine()
{
    // Assignments stay after their state is left, until another state assigns the property again.
    const auto state = [this](const char* name) { return workflow->state(name); };

    // Device panel: both logos and a short text until the device is ready, then its description.
    auto* deviceInfoRegion = newState("deviceInfoRegion", workflow->regions());
    auto* infoNoDeviceState = newState("infoNoDeviceState", deviceInfoRegion);
    auto* infoWaitingState = newState("infoWaitingState", deviceInfoRegion);
    auto* infoShownState = newState("infoShownState", deviceInfoRegion);
    auto* infoRestartingState = newState("infoRestartingState", deviceInfoRegion);
    deviceInfoRegion->setInitialState(infoNoDeviceState);

    infoNoDeviceState->assignProperty(baseLogo, "visible", true);
    infoNoDeviceState->assignProperty(plusLogo, "visible", true);
    infoNoDeviceState->assignProperty(deviceStatusView, "text", QStringLiteral("No device connected"));
    infoWaitingState->assignProperty(deviceStatusView, "text", QStringLiteral("Waiting..."));
    // The device being updated is off the bus while it restarts; it is not gone.
    infoRestartingState->assignProperty(
        deviceStatusView, "text", QStringLiteral("The device is restarting..."));

    connect(infoShownState, &QState::entered, this, &MainWindow::showDevice, Qt::DirectConnection);

    infoNoDeviceState->addTransition(
        state(WorkflowStates::connectingState), &QState::entered, infoWaitingState);
    infoWaitingState->addTransition(
        state(WorkflowStates::noDeviceState), &QState::entered, infoNoDeviceState);
    infoWaitingState->addTransition(
        state(WorkflowStates::deviceReadyState), &QState::entered, infoShownState);
    infoShownState->addTransition(state(WorkflowStates::noDeviceState), &QState::entered, infoNoDeviceState);
    infoNoDeviceState->addTransition(
        state(WorkflowStates::awaitRebootState), &QState::entered, infoRestartingState);
    infoRestartingState->addTransition(
        state(WorkflowStates::connectingState), &QState::entered, infoWaitingState);
    infoRestartingState->addTransition(
        state(WorkflowStates::awaitRebootState), &QState::exited, infoNoDeviceState);

    // Workflow: the pages, the check for updates and the update itself.
    state(WorkflowStates::promptConnectState)
        ->assignProperty(promptLabel, "text", phaseStatusText(WorkflowPhase::NoDevice));
    state(WorkflowStates::promptConnectState)->assignProperty(pages, "currentIndex", 0);
    state(WorkflowStates::promptWaitState)
        ->assignProperty(promptLabel, "text", phaseStatusText(WorkflowPhase::Connecting));
    state(WorkflowStates::promptReplugState)
        ->assignProperty(promptLabel, "text", phaseStatusText(WorkflowPhase::NotAnswering));
    state(WorkflowStates::promptReplugState)->assignProperty(pages, "currentIndex", 0);
    state(WorkflowStates::selectionState)->assignProperty(pages, "currentIndex", 1);
    QState* idleState = state(WorkflowStates::idleState);
    idleState->assignProperty(checkUpdatesButton, "enabled", true);
    idleState->assignProperty(installActions, "enabled", true);
    idleState->assignProperty(checkAppUpdateAction, "enabled", true);
    state(WorkflowStates::nothingToInstallState)->assignProperty(startUpdateButton, "enabled", false);
    state(WorkflowStates::readyToInstallState)->assignProperty(startUpdateButton, "enabled", true);
    QState* checkingState = state(WorkflowStates::checkingState);
    checkingState->assignProperty(updatesHeading, "text", phaseStatusText(WorkflowPhase::Checking));
    checkingState->assignProperty(updatesHeading, "mode", int(MessageMode::Information));
    checkingState->assignProperty(checkUpdatesButton, "enabled", false);
    checkingState->assignProperty(warningsBox, "mode", int(MessageMode::Hidden));
    checkingState->assignProperty(checkAppUpdateAction, "enabled", false);
    QState* updatingState = state(WorkflowStates::updatingState);
    updatingState->assignProperty(pages, "currentIndex", 2);
    updatingState->assignProperty(downloadLabel, "visible", true);
    updatingState->assignProperty(downloadProgress, "visible", true);
    updatingState->assignProperty(statusMessage, "text", phaseStatusText(WorkflowPhase::Updating));
    updatingState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    state(WorkflowStates::nextComponentState)
        ->assignProperty(statusMessage, "mode", int(MessageMode::Hidden));
    QState* installingState = state(WorkflowStates::installingState);
    installingState->assignProperty(statusMessage, "text", phaseStatusText(WorkflowPhase::Installing));
    installingState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    QState* awaitFinishState = state(WorkflowStates::awaitFinishState);
    awaitFinishState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    awaitFinishState->assignProperty(statusMessage, "text", phaseStatusText(WorkflowPhase::AwaitingFinish));
    QState* awaitRebootState = state(WorkflowStates::awaitRebootState);
    awaitRebootState->assignProperty(statusMessage, "mode", int(MessageMode::Information));
    awaitRebootState->assignProperty(statusMessage, "text", phaseStatusText(WorkflowPhase::AwaitingReboot));

    // A component file written to the device is the one thing the user must not start by accident;
    // and an offer to quit for a newer updater is not made while an update runs.
    connect(
        idleState, &QState::exited, this,
        [this] {
            installActions->setEnabled(false);
            checkAppUpdateAction->setEnabled(false);
        },
        Qt::DirectConnection);

    // The updater check holds the check for updates back while it runs.
    state(WorkflowStates::appCheckIdleState)->assignProperty(checkUpdatesButton, "enabled", true);
    state(WorkflowStates::appCheckRunningState)->assignProperty(checkUpdatesButton, "enabled", false);

    // What the workflow reports between its states.
    connect(workflow, &UpdateWorkflow::planChanged, this, &MainWindow::refreshUpdateList);
    connect(workflow, &UpdateWorkflow::componentTextChanged, componentLabel, &QLabel::setText);
    connect(workflow, &UpdateWorkflow::downloadTextChanged, downloadLabel, &QLabel::setText);
    connect(workflow, &UpdateWorkflow::installTextChanged, installLabel, &QLabel::setText);
    connect(workflow, &UpdateWorkflow::downloadProgressChanged, downloadProgress, &QProgressBar::setValue);
    connect(workflow, &UpdateWorkflow::installProgressChanged, installProgress, &QProgressBar::setValue);
    connect(workflow, &UpdateWorkflow::statusChanged, this, &MainWindow::showStatus);
    connect(workflow, &UpdateWorkflow::messageRequested, this, &MainWindow::showWorkflowMessage);
    connect(workflow, &UpdateWorkflow::appUpdateOffered, this, &MainWindow::offerAppUpdate);
    connect(workflow->progressClock(), &UpdateProgressClock::progressChanged, overallLabel, &QLabel::setText);
}

void MainWindow::showStatus(const QString& text, MessageKind kind)
{
    if (kind == MessageKind::Information)
        statusMessage->showInformation(text);
    else
        statusMessage->showWarning(text);
}

void MainWindow::showWorkflowMessage(MessageKind kind, const QString& title, const QString& text)
{
    switch (kind) {
    case MessageKind::Information:
        showMessage(QMessageBox::Information, title, text);
        break;
    case MessageKind::Warning:
        showMessage(QMessageBox::Warning, title, text);
        break;
    case MessageKind::Critical:
        showMessage(QMessageBox::Critical, title, text);
        break;
    }
}

} // namespace PelkPlus
