// The window's part of the workflow's state machine: the device panel, a region of its own, and
// what each state of the workflow shows.
#include "ui/MainWindow.h"

#include "ui/DeviceStatusView.h"
#include "ui/MessageBox.h"
#include "workflow/NamedState.h"
#include "workflow/UpdateWorkflow.h"

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
    deviceInfoRegion->setInitialState(infoNoDeviceState);

    infoNoDeviceState->assignProperty(baseLogo, "visible", true);
    infoNoDeviceState->assignProperty(plusLogo, "visible", true);
    infoNoDeviceState->assignProperty(deviceStatusView, "text", QStringLiteral("No device connected"));
    infoWaitingState->assignProperty(deviceStatusView, "text", QStringLiteral("Waiting..."));

    connect(infoShownState, &QState::entered, this, &MainWindow::showDevice, Qt::DirectConnection);

    infoNoDeviceState->addTransition(state("connectingState"), &QState::entered, infoWaitingState);
    infoWaitingState->addTransition(state("noDeviceState"), &QState::entered, infoNoDeviceState);
    infoWaitingState->addTransition(state("deviceReadyState"), &QState::entered, infoShownState);
    infoShownState->addTransition(state("noDeviceState"), &QState::entered, infoNoDeviceState);

    // Workflow: the pages, the check for updates and the update itself.
    state("promptConnectState")
        ->assignProperty(promptLabel, "text", QStringLiteral("Please connect a PELK device."));
    state("promptConnectState")->assignProperty(pages, "currentIndex", 0);
    state("promptWaitState")
        ->assignProperty(promptLabel, "text", QStringLiteral("Waiting for the PELK device to get ready..."));
    state("selectionState")->assignProperty(pages, "currentIndex", 1);
    QState* idleState = state("idleState");
    idleState->assignProperty(checkUpdatesButton, "enabled", true);
    idleState->assignProperty(installActions, "enabled", true);
    idleState->assignProperty(checkAppUpdateAction, "enabled", true);
    state("nothingToInstallState")->assignProperty(startUpdateButton, "enabled", false);
    state("readyToInstallState")->assignProperty(startUpdateButton, "enabled", true);
    QState* checkingState = state("checkingState");
    checkingState->assignProperty(updatesHeading, "text", QStringLiteral("Checking for latest updates..."));
    checkingState->assignProperty(updatesHeading, "mode", int(MessageMode::Information));
    checkingState->assignProperty(checkUpdatesButton, "enabled", false);
    checkingState->assignProperty(warningsBox, "mode", int(MessageMode::Hidden));
    checkingState->assignProperty(checkAppUpdateAction, "enabled", false);
    QState* updatingState = state("updatingState");
    updatingState->assignProperty(pages, "currentIndex", 2);
    updatingState->assignProperty(downloadLabel, "visible", true);
    updatingState->assignProperty(downloadProgress, "visible", true);
    updatingState->assignProperty(
        statusMessage, "text", QStringLiteral("Please do NOT disconnect or power down the device!"));
    updatingState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    state("nextComponentState")->assignProperty(statusMessage, "mode", int(MessageMode::Hidden));
    QState* installingState = state("installingState");
    installingState->assignProperty(statusMessage, "text",
        QStringLiteral("Update in progress...\n\nPlease DO NOT disconnect or power down the device!"));
    installingState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    QState* awaitFinishState = state("awaitFinishState");
    awaitFinishState->assignProperty(statusMessage, "mode", int(MessageMode::Warning));
    awaitFinishState->assignProperty(statusMessage, "text",
        QStringLiteral("Waiting for confirmation that the update is finished...\n\n"
                       "Please DO NOT disconnect or power down the device!"));
    QState* awaitRebootState = state("awaitRebootState");
    awaitRebootState->assignProperty(statusMessage, "mode", int(MessageMode::Information));
    awaitRebootState->assignProperty(
        statusMessage, "text", QStringLiteral("Waiting for the device to reboot..."));

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
    state("appCheckIdleState")->assignProperty(checkUpdatesButton, "enabled", true);
    state("appCheckRunningState")->assignProperty(checkUpdatesButton, "enabled", false);

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
