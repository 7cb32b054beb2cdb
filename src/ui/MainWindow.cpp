#include "ui/MainWindow.h"

#include "ui/DeviceStatusView.h"
#include "ui/MessageBox.h"
#include "workflow/UpdateWorkflow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace PelkPlus {

namespace {

// The part of a model logo that shows the model's name, and the width it is shown at.
const QRect modelLogoCrop(100, 290, 800, 310);
constexpr int modelLogoWidth = 200;
constexpr int makerLogoWidth = 100;
// Dims the maker logo so that it does not compete with the device description.
const QColor makerLogoShade(15, 0, 0, 150);

QPixmap modelLogo(const QString& path)
{
    return QPixmap::fromImage(
        QImage(path).copy(modelLogoCrop).scaledToWidth(modelLogoWidth, Qt::SmoothTransformation));
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    // A child of the window, so that its state machine and agents are found among the window's.
    workflow = new UpdateWorkflow(this);
    workflow->setQuestions(this);

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

void MainWindow::createWidgets()
{
    promptLabel = new QLabel;
    promptLabel->setObjectName(QStringLiteral("promptLabel"));
    promptLabel->setAlignment(Qt::AlignCenter);
    // What the state machine's first step shows too; set here so that the first paint, which comes
    // before that step, does not show an empty window.
    promptLabel->setText(phaseStatusText(WorkflowPhase::NoDevice));

    deviceStatusView = new DeviceStatusView;
    deviceStatusView->setObjectName(QStringLiteral("deviceInfo"));
    deviceStatusView->setStyleSheet(QStringLiteral(" #deviceInfo QLabel { color: white; margin: 10 } "));
    deviceStatusView->setText(QStringLiteral("No device connected"));

    checkUpdatesButton = new QPushButton(QStringLiteral("Check for Latest Updates"));
    checkUpdatesButton->setObjectName(QStringLiteral("checkUpdatesButton"));
    connect(checkUpdatesButton, &QPushButton::clicked, workflow, &UpdateWorkflow::checkForUpdates);
    warningsBox = new MessageBox;
    warningsBox->setObjectName(QStringLiteral("warningsBox"));
    updatesHeading = new MessageBox;
    updatesHeading->setObjectName(QStringLiteral("updatesHeading"));
    catalogueNote = new QLabel;
    catalogueNote->setObjectName(QStringLiteral("catalogueNote"));
    catalogueNote->setWordWrap(true);
    catalogueNote->hide();
    componentList = new QListWidget;
    componentList->setObjectName(QStringLiteral("componentList"));
    estimateLabel = new QLabel;
    estimateLabel->setObjectName(QStringLiteral("estimateLabel"));
    startUpdateButton = new QPushButton(QStringLiteral("Start Update"));
    startUpdateButton->setObjectName(QStringLiteral("startUpdateButton"));
    startUpdateButton->setEnabled(false);
    connect(startUpdateButton, &QPushButton::clicked, workflow, &UpdateWorkflow::startUpdate);

    auto* selectionPage = new QWidget;
    selectionPage->setObjectName(QStringLiteral("selectionPage"));
    auto* selectionLayout = new QVBoxLayout(selectionPage);
    selectionLayout->addWidget(checkUpdatesButton);
    selectionLayout->addWidget(warningsBox);
    selectionLayout->addWidget(updatesHeading);
    selectionLayout->addWidget(catalogueNote);
    selectionLayout->addWidget(componentList);
    selectionLayout->addWidget(estimateLabel);
    selectionLayout->addWidget(startUpdateButton);

    componentLabel = new QLabel;
    componentLabel->setObjectName(QStringLiteral("componentLabel"));
    QFont componentFont = componentLabel->font();
    componentFont.setPointSize(componentFont.pointSize() + 4);
    componentFont.setWeight(QFont::Bold);
    componentLabel->setFont(componentFont);
    downloadLabel = new QLabel;
    downloadLabel->setObjectName(QStringLiteral("downloadLabel"));
    installLabel = new QLabel;
    installLabel->setObjectName(QStringLiteral("installLabel"));
    statusMessage = new MessageBox;
    statusMessage->setObjectName(QStringLiteral("statusMessage"));
    downloadProgress = new QProgressBar;
    downloadProgress->setObjectName(QStringLiteral("downloadProgress"));
    downloadProgress->setRange(0, 100);
    installProgress = new QProgressBar;
    installProgress->setObjectName(QStringLiteral("installProgress"));
    installProgress->setRange(0, 100);
    overallLabel = new QLabel;
    overallLabel->setObjectName(QStringLiteral("overallLabel"));

    auto* progressPage = new QWidget;
    progressPage->setObjectName(QStringLiteral("progressPage"));
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->setSpacing(15);
    progressLayout->addWidget(componentLabel);
    progressLayout->addWidget(downloadLabel);
    progressLayout->addWidget(downloadProgress);
    progressLayout->addWidget(installLabel);
    progressLayout->addWidget(installProgress);
    progressLayout->addWidget(overallLabel);
    progressLayout->addWidget(statusMessage);
    progressLayout->addStretch(1);

    pages = new QStackedWidget;
    pages->setObjectName(QStringLiteral("pages"));
    pages->setContentsMargins(0, 0, 0, 0);
    pages->addWidget(promptLabel);
    pages->addWidget(selectionPage);
    pages->addWidget(progressPage);

    baseLogoPixmap = modelLogo(QStringLiteral(":/images/pelk_logo_orig.png"));
    plusLogoPixmap = modelLogo(QStringLiteral(":/images/pelk_logo_plus.png"));
    baseLogo = new QLabel;
    baseLogo->setObjectName(QStringLiteral("baseLogo"));
    baseLogo->setPixmap(baseLogoPixmap);
    plusLogo = new QLabel;
    plusLogo->setObjectName(QStringLiteral("plusLogo"));
    plusLogo->setPixmap(plusLogoPixmap);

    QPixmap makerPixmap = QPixmap::fromImage(QImage(QStringLiteral(":/images/quellor_logo.png"))
                                                 .scaledToWidth(makerLogoWidth, Qt::SmoothTransformation));
    if (!makerPixmap.isNull()) {
        QPainter painter(&makerPixmap);
        painter.fillRect(makerPixmap.rect(), makerLogoShade);
    }
    makerLogo = new QLabel;
    makerLogo->setObjectName(QStringLiteral("makerLogo"));
    makerLogo->setAlignment(Qt::AlignHCenter);
    makerLogo->setPixmap(makerPixmap);

    auto* statusWidget = new QWidget;
    statusWidget->setObjectName(QStringLiteral("statusWidget"));
    statusWidget->setStyleSheet(QStringLiteral("#statusWidget { background-color: rgb(0,0,0); }"));
    auto* statusLayout = new QVBoxLayout(statusWidget);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    statusLayout->addWidget(baseLogo);
    statusLayout->addWidget(plusLogo);
    statusLayout->addWidget(deviceStatusView);
    statusLayout->addStretch(1);
    statusLayout->addWidget(makerLogo);

    auto* central = new QWidget;
    auto* centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->addWidget(statusWidget);
    centralLayout->addWidget(pages);
    setCentralWidget(central);
}

void MainWindow::createMenus()
{
    advancedMenu = new QMenu(tr("Advanced"), this);

    installActions = new QActionGroup(this);
    installActions->setEnabled(false);

    for (const ComponentType type : { ComponentType::McuFirmware, ComponentType::DspFirmware,
             ComponentType::Styles, ComponentType::EnsembleAudio }) {
        QAction* action
            = installActions->addAction(QStringLiteral("Install %1...").arg(componentTypeName(type)));
        advancedMenu->addAction(action);
        connect(
            action, &QAction::triggered, this, [this, type] { workflow->installComponentFromFile(type); },
            Qt::DirectConnection);
    }

    advancedMenu->addSeparator();
    QAction* listAllAction = installActions->addAction(QStringLiteral("List All Components"));
    advancedMenu->addAction(listAllAction);
    connect(listAllAction, &QAction::triggered, workflow, &UpdateWorkflow::listAllComponents);

    advancedMenu->addSeparator();
    QAction* manifestUrlAction = advancedMenu->addAction(QStringLiteral("Set Manifest URL..."));
    connect(manifestUrlAction, &QAction::triggered, workflow, &UpdateWorkflow::editManifestUrl);

    auto* menuBar = new QMenuBar;
    QMenu* fileMenu = menuBar->addMenu(tr("&File"));
    QAction* advancedEntry = fileMenu->addMenu(advancedMenu);
    fileMenu->addSeparator();
    checkAppUpdateAction = fileMenu->addAction(tr("Check for New Version of Pelk Updater"));
    connect(checkAppUpdateAction, &QAction::triggered, workflow, &UpdateWorkflow::checkAppUpdates);
    fileMenu->addSeparator();
    QAction* exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setMenuRole(QAction::QuitRole);
    connect(exitAction, &QAction::triggered, this, &MainWindow::close);

    // The advanced actions can overwrite a device with any file; they stay out of sight unless the
    // menu is opened with Control held.
    connect(
        fileMenu, &QMenu::aboutToShow, this,
        [advancedEntry] {
            advancedEntry->setVisible(
                QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier));
        },
        Qt::DirectConnection);

    QMenu* helpMenu = menuBar->addMenu(tr("&Help"));
    QAction* aboutAction = helpMenu->addAction(tr("About %1...").arg(QCoreApplication::applicationName()));
    aboutAction->setMenuRole(QAction::AboutRole);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::about);
    // What a support request needs: what was done to the device, and the updater's own account.
    helpMenu->addSeparator();
    connect(helpMenu->addAction(QStringLiteral("Update History...")), &QAction::triggered, this,
        &MainWindow::showUpdateHistory);
    connect(helpMenu->addAction(QStringLiteral("Show Log Folder")), &QAction::triggered, this,
        &MainWindow::showLogFolder);
    connect(helpMenu->addAction(QStringLiteral("Save Diagnostics Report...")), &QAction::triggered, this,
        &MainWindow::saveDiagnosticsReport);

    setMenuBar(menuBar);
}

} // namespace PelkPlus
