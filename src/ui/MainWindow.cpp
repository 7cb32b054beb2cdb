#include "ui/MainWindow.h"

#include "ui/AdvancedMenu.h"
#include "ui/DevicePanel.h"
#include "ui/MessageBox.h"
#include "ui/ProgressPage.h"
#include "ui/SelectionPage.h"
#include "ui/UpdateReport.h"
#include "ui/WindowDialogs.h"
#include "workflow/UpdateFailure.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowPhase.h"
#include "workflow/WorkflowStates.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStackedWidget>
#include <QState>

namespace PelkPlus {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    // A child of the window, so that its state machine and agents are found among the window's.
    workflow = new UpdateWorkflow(this);
    windowDialogs = new WindowDialogs(workflow, this);
    workflow->setQuestions(windowDialogs);
    updateReport = new UpdateReport(workflow, this);

    createWidgets();
    createMenus();
    createStateMachine();
    // Qt would shrink a new window's size hint to two thirds of a small screen; the layout is
    // drawn for this size, and it fits any screen the updater is used on.
    resize(sizeHint());

    // The machine's first step runs once the event loop does, after the window is shown.
    workflow->start();
}

MainWindow::~MainWindow()
{
    // The workflow goes first: nothing it reports may reach widgets that are gone.
    delete workflow;
}

QSize MainWindow::sizeHint() const
{
    return QSize(750, 500);
}

void MainWindow::showMessage(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    auto* box = new QMessageBox(this);
    box->setModal(true);
    box->setText(text);
    box->setWindowTitle(title);
    box->setIcon(icon);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void MainWindow::setDialogProvider(DialogProvider* provider)
{
    windowDialogs->setDialogProvider(provider);
}

void MainWindow::setSleepPreventer(SleepPreventer* preventer)
{
    workflow->setSleepPreventer(preventer);
}

std::optional<ComponentType> MainWindow::platformApplicationType()
{
    return UpdateWorkflow::platformApplicationType();
}

void MainWindow::setAppPackageType(std::optional<ComponentType> type)
{
    workflow->setAppPackageType(type);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (windowDialogs->confirmQuit())
        event->accept();
    else
        event->ignore();
}

void MainWindow::createWidgets()
{
    promptLabel = new QLabel;
    promptLabel->setObjectName(QStringLiteral("promptLabel"));
    promptLabel->setAlignment(Qt::AlignCenter);
    promptLabel->setWordWrap(true);
    // A long text (what to do about a refused device) keeps off the page's edges.
    promptLabel->setMargin(12);
    // What the state machine's first step shows too; set here so that the first paint, which comes
    // before that step, does not show an empty window.
    promptLabel->setText(phaseStatusText(WorkflowPhase::NoDevice));

    selectionPage = new SelectionPage(workflow);
    progressPage = new ProgressPage(workflow);

    pages = new QStackedWidget;
    pages->setObjectName(QStringLiteral("pages"));
    pages->setContentsMargins(0, 0, 0, 0);
    pages->addWidget(promptLabel);
    pages->addWidget(selectionPage);
    pages->addWidget(progressPage);

    devicePanel = new DevicePanel(workflow);

    auto* central = new QWidget;
    auto* centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->addWidget(devicePanel);
    centralLayout->addWidget(pages);
    setCentralWidget(central);
}

void MainWindow::installBundle(const QString& path)
{
    workflow->installBundle(path);
}

void MainWindow::createMenus()
{
    advancedMenu = new AdvancedMenu(workflow, this);

    auto* menuBar = new QMenuBar;
    QMenu* fileMenu = menuBar->addMenu(tr("&File"));
    QAction* advancedEntry = fileMenu->addMenu(advancedMenu);
    installBundleAction = fileMenu->addAction(tr("Install Update &Bundle..."));
    installBundleAction->setObjectName(QStringLiteral("installBundleAction"));
    connect(installBundleAction, &QAction::triggered, workflow, &UpdateWorkflow::installBundleFromFile);
    fileMenu->addSeparator();
    checkAppUpdateAction = fileMenu->addAction(tr("Check for &New Version of Pelk Updater"));
    connect(checkAppUpdateAction, &QAction::triggered, workflow, &UpdateWorkflow::checkAppUpdates);
    fileMenu->addSeparator();
    QAction* exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setMenuRole(QAction::QuitRole);
    // The platform's quit keys go the same way as the entry: during an update the window asks
    // first. Where the platform names none (Windows, a bare platform theme), Control+Q.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys.append(QKeySequence(QStringLiteral("Ctrl+Q"), QKeySequence::PortableText));
    exitAction->setShortcuts(quitKeys);
    connect(exitAction, &QAction::triggered, this, &MainWindow::close);

    // The advanced actions can overwrite a device with any file; they stay out of sight unless the
    // menu is opened with Control held, or asked for by their own shortcut.
    connect(
        fileMenu, &QMenu::aboutToShow, this,
        [advancedEntry] {
            advancedEntry->setVisible(
                QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier));
        },
        Qt::DirectConnection);

    // Holding Control while a menu opens is not a keyboard path of its own: a screen reader's or a
    // keyboard user's way to the same menu, under the File entry where it would open.
    advancedShortcut = new QAction(tr("Advanced Menu"), this);
    advancedShortcut->setObjectName(QStringLiteral("advancedShortcut"));
    advancedShortcut->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    advancedShortcut->setShortcutContext(Qt::WindowShortcut);
    addAction(advancedShortcut);
    connect(advancedShortcut, &QAction::triggered, this, [this, menuBar, fileMenu] {
        const QRect fileEntry = menuBar->actionGeometry(fileMenu->menuAction());
        advancedMenu->popup(menuBar->mapToGlobal(fileEntry.bottomLeft()));
        // Keyboard users start on the first entry they can use, as in a menu opened from the bar.
        const auto entries = advancedMenu->actions();
        for (QAction* entry : entries) {
            if (entry->isEnabled() && !entry->isSeparator()) {
                advancedMenu->setActiveAction(entry);
                break;
            }
        }
    });

    QMenu* helpMenu = menuBar->addMenu(tr("&Help"));
    QAction* aboutAction = helpMenu->addAction(tr("&About %1...").arg(QCoreApplication::applicationName()));
    aboutAction->setMenuRole(QAction::AboutRole);
    connect(aboutAction, &QAction::triggered, windowDialogs, &WindowDialogs::about);
    // What a support request needs: what was done to the device, and the updater's own account.
    helpMenu->addSeparator();
    connect(helpMenu->addAction(QStringLiteral("Update &History...")), &QAction::triggered, windowDialogs,
        &WindowDialogs::showUpdateHistory);
    connect(helpMenu->addAction(QStringLiteral("Show &Log Folder")), &QAction::triggered, windowDialogs,
        &WindowDialogs::showLogFolder);
    connect(helpMenu->addAction(QStringLiteral("Save &Diagnostics Report...")), &QAction::triggered,
        windowDialogs, &WindowDialogs::saveDiagnosticsReport);

    setMenuBar(menuBar);
}

void MainWindow::createStateMachine()
{
    // Assignments stay after their state is left, until another state assigns the property again.
    const auto state = [this](const char* name) { return workflow->state(name); };

    devicePanel->addRegion();
    selectionPage->followStates();
    progressPage->followStates();
    advancedMenu->followStates();

    // The pages, and the connect prompt's texts.
    QState* promptConnectState = state(WorkflowStates::promptConnectState);
    promptConnectState->assignProperty(promptLabel, "text", phaseStatusText(WorkflowPhase::NoDevice));
    promptConnectState->assignProperty(pages, "currentIndex", 0);
    state(WorkflowStates::promptWaitState)
        ->assignProperty(promptLabel, "text", phaseStatusText(WorkflowPhase::Connecting));
    state(WorkflowStates::promptReplugState)
        ->assignProperty(promptLabel, "text", phaseStatusText(WorkflowPhase::NotAnswering));
    state(WorkflowStates::promptReplugState)->assignProperty(pages, "currentIndex", 0);
    // A node this account may not open is tried again every few seconds, each time through the
    // wait and the failure: the page stays on what is wrong and how to mend it instead.
    for (const char* retry : { WorkflowStates::promptWaitState, WorkflowStates::promptReplugState }) {
        connect(
            state(retry), &QState::entered, this,
            [this] {
                const QString refused = workflow->deviceAccessWaitingText();
                if (!refused.isEmpty())
                    promptLabel->setText(refused);
            },
            Qt::DirectConnection);
    }
    state(WorkflowStates::selectionState)->assignProperty(pages, "currentIndex", 1);
    state(WorkflowStates::updatingState)->assignProperty(pages, "currentIndex", 2);

    // A bundle replaces the catalogue of a plan: not while one is being made or carried out.
    for (const char* busy : { WorkflowStates::checkingState, WorkflowStates::updatingState })
        state(busy)->assignProperty(installBundleAction, "enabled", false);
    for (const char* open : { WorkflowStates::idleState, WorkflowStates::promptConnectState,
             WorkflowStates::promptWaitState, WorkflowStates::promptReplugState })
        state(open)->assignProperty(installBundleAction, "enabled", true);

    // An offer to quit for a newer updater is not made while anything but the list is shown.
    QState* idleState = state(WorkflowStates::idleState);
    idleState->assignProperty(checkAppUpdateAction, "enabled", true);
    state(WorkflowStates::checkingState)->assignProperty(checkAppUpdateAction, "enabled", false);
    connect(
        idleState, &QState::exited, checkAppUpdateAction, [this] { checkAppUpdateAction->setEnabled(false); },
        Qt::DirectConnection);

    // A device lost while a file was on its way: the page must not go on saying the update runs.
    connect(
        state(WorkflowStates::noDeviceState), &QState::entered, this,
        [this] {
            if (workflow->phase() == WorkflowPhase::Installing)
                progressPage->showStatus(updateFailureText(UpdateFailure::DeviceLost), MessageKind::Warning);
        },
        Qt::DirectConnection);
    connect(promptConnectState, &QState::entered, this, &MainWindow::showConnectPrompt, Qt::DirectConnection);
    // The device waits for the user's hands: a strip alone goes unseen behind another window.
    connect(
        state(WorkflowStates::rebootTimeoutState), &QState::entered, this,
        [this] {
            raise();
            activateWindow();
            QApplication::alert(this);
        },
        Qt::DirectConnection);
    connect(state(WorkflowStates::promptReplugState), &QState::entered, this, &MainWindow::showConnectPrompt,
        Qt::DirectConnection);
    connect(
        state(WorkflowStates::deviceReadyState), &QState::entered, this,
        [this] {
            // "Connect it again" is done: the list keeps what was not installed and why.
            if (interruptionToTell && reconnectTold)
                selectionPage->showResult(int(MessageMode::Warning), UpdateReport::backText(*workflow));
            interruptionToTell = false;
        },
        Qt::DirectConnection);
    // An update of this device that stopped before its end, found in its journal: said as soon as
    // the device is ready, at start or when it is plugged in, with the offer to finish or drop it;
    // where the list already says that this window's own update was interrupted, only the offer.
    connect(
        state(WorkflowStates::deviceReadyState), &QState::entered, this,
        [this] {
            const std::optional<UpdateJournal> stopped = workflow->interruptedUpdate();
            if (!stopped)
                return;
            if (failureToTell.isEmpty())
                selectionPage->showResult(int(MessageMode::Warning), stopped->stoppedText());
            selectionPage->offerStoppedUpdate();
        },
        Qt::DirectConnection);

    connect(workflow, &UpdateWorkflow::messageRequested, this, &MainWindow::showWorkflowMessage);
    connect(workflow, &UpdateWorkflow::appUpdateOffered, windowDialogs, &WindowDialogs::offerAppUpdate);
    connect(updateReport, &UpdateReport::ended, this, &MainWindow::showUpdateEnd);
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

void MainWindow::showUpdateEnd(UpdateOutcome outcome, int mode, const QString& text)
{
    selectionPage->showResult(mode, text);
    // Whatever ended the update without its device is said on the connect prompt too, until the
    // device is back and planned again.
    interruptionToTell = outcome != UpdateOutcome::Done;
    failureToTell = interruptionToTell ? text : QString();
    reconnectTold = false;
    showConnectPrompt();
}

void MainWindow::showConnectPrompt()
{
    // The phase, not the states' activity: a state is active only once its entry is told.
    const bool replug = workflow->phase() == WorkflowPhase::NotAnswering;
    if (!interruptionToTell || (!replug && workflow->phase() != WorkflowPhase::NoDevice))
        return;
    promptLabel->setText(failureToTell + QStringLiteral("\n\n")
        + phaseStatusText(replug ? WorkflowPhase::NotAnswering : WorkflowPhase::NoDevice));
    reconnectTold = true;
}

} // namespace PelkPlus
