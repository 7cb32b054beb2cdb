#include "ui/SelectionPage.h"

#include "device/DeviceModel.h"
#include "ui/MessageBox.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowPhase.h"
#include "workflow/WorkflowStates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QState>
#include <QVBoxLayout>

#include <algorithm>

namespace PelkPlus {

SelectionPage::SelectionPage(UpdateWorkflow* engine, QWidget* parent)
    : QWidget(parent)
    , workflow(engine)
{
    setObjectName(QStringLiteral("selectionPage"));

    checkUpdatesButton = new QPushButton(QStringLiteral("Check for Latest Updates"));
    checkUpdatesButton->setObjectName(QStringLiteral("checkUpdatesButton"));
    // The online catalogue, also after an update bundle was installed.
    connect(checkUpdatesButton, &QPushButton::clicked, engine, [engine] {
        engine->useOnlineCatalogue();
        engine->checkForUpdates();
    });
    cancelCheckButton = new QPushButton(QStringLiteral("Cancel"));
    cancelCheckButton->setObjectName(QStringLiteral("cancelCheckButton"));
    cancelCheckButton->setAccessibleDescription(QStringLiteral("Cancel the check for updates"));
    cancelCheckButton->hide();
    connect(cancelCheckButton, &QPushButton::clicked, engine, &UpdateWorkflow::cancelCheck);
    resultBox = new MessageBox;
    resultBox->setObjectName(QStringLiteral("resultBox"));
    resultBox->clear();
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
    componentList->setAccessibleName(QStringLiteral("Updates"));
    // An empty list shows no item to highlight: its frame says where the keyboard is.
    componentList->setStyleSheet(
        QStringLiteral("#componentList:focus { border: 2px solid palette(highlight); }"));
    estimateLabel = new QLabel;
    estimateLabel->setObjectName(QStringLiteral("estimateLabel"));
    // In a large font it takes another line rather than widening the window.
    estimateLabel->setWordWrap(true);
    otherDevicesNote = new QLabel;
    otherDevicesNote->setObjectName(QStringLiteral("otherDevicesNote"));
    otherDevicesNote->setWordWrap(true);
    otherDevicesNote->hide();
    startUpdateButton = new QPushButton(QStringLiteral("Start Update"));
    startUpdateButton->setObjectName(QStringLiteral("startUpdateButton"));
    startUpdateButton->setEnabled(false);
    connect(startUpdateButton, &QPushButton::clicked, workflow, &UpdateWorkflow::startUpdate);

    createStoppedOffer();

    auto* selectionLayout = new QVBoxLayout(this);
    selectionLayout->addWidget(checkUpdatesButton);
    selectionLayout->addWidget(resultBox);
    selectionLayout->addWidget(stoppedOffer);
    selectionLayout->addWidget(warningsBox);
    selectionLayout->addWidget(updatesHeading);
    selectionLayout->addWidget(catalogueNote);
    selectionLayout->addWidget(componentList);
    selectionLayout->addWidget(estimateLabel);
    selectionLayout->addWidget(otherDevicesNote);
    selectionLayout->addWidget(startUpdateButton);
    // In the place of the plan's button, which waits for the check.
    selectionLayout->addWidget(cancelCheckButton);

    // Return presses the focused button too, not only Space: outside a dialog a button has no
    // default role unless asked.
    checkUpdatesButton->setAutoDefault(true);
    startUpdateButton->setAutoDefault(true);
    cancelCheckButton->setAutoDefault(true);
    // The offer to finish a stopped update comes before the list (createStoppedOffer).
    setTabOrder(componentList, startUpdateButton);
}

SelectionPage::~SelectionPage() = default;

void SelectionPage::createStoppedOffer()
{
    stoppedOffer = new QWidget;
    stoppedOffer->setObjectName(QStringLiteral("stoppedOffer"));
    auto* question = new QLabel(QStringLiteral(
        "Finish it now from the files kept on this computer (no download needed), or drop it?"));
    question->setWordWrap(true);
    auto* finishButton = new QPushButton(QStringLiteral("Finish"));
    finishButton->setObjectName(QStringLiteral("finishStoppedButton"));
    finishButton->setAccessibleDescription(QStringLiteral("Finish the update that stopped"));
    auto* dropButton = new QPushButton(QStringLiteral("Drop"));
    dropButton->setObjectName(QStringLiteral("dropStoppedButton"));
    dropButton->setAccessibleDescription(
        QStringLiteral("Drop the update that stopped and the files kept for it"));
    auto* row = new QHBoxLayout(stoppedOffer);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(question, 1);
    row->addWidget(finishButton);
    row->addWidget(dropButton);
    stoppedOffer->hide();
    finishButton->setAutoDefault(true);
    dropButton->setAutoDefault(true);
    // While shown, it is reached before the list it would replace.
    setTabOrder(checkUpdatesButton, finishButton);
    setTabOrder(finishButton, dropButton);
    setTabOrder(dropButton, componentList);

    connect(finishButton, &QPushButton::clicked, this, [this] {
        endStoppedOffer();
        workflow->finishInterruptedUpdate();
    });
    connect(dropButton, &QPushButton::clicked, this, [this] {
        endStoppedOffer();
        workflow->dropInterruptedUpdate();
    });
}

void SelectionPage::offerStoppedUpdate()
{
    stoppedOffer->show();
}

void SelectionPage::endStoppedOffer()
{
    stoppedOffer->hide();
    resultBox->clear();
}

void SelectionPage::followStates()
{
    const auto state = [this](const char* name) { return workflow->state(name); };

    QState* idleState = state(WorkflowStates::idleState);
    idleState->assignProperty(checkUpdatesButton, "enabled", true);
    state(WorkflowStates::nothingToInstallState)->assignProperty(startUpdateButton, "enabled", false);
    QState* readyToInstallState = state(WorkflowStates::readyToInstallState);
    readyToInstallState->assignProperty(startUpdateButton, "enabled", true);
    // Once there is something to install, installing it is what the user came for; the focus moves
    // only when it was on the page, so that a menu or another window keeps it.
    connect(
        readyToInstallState, &QState::entered, this,
        [this] {
            QWidget* focused = window()->focusWidget();
            if (!focused || isAncestorOf(focused))
                startUpdateButton->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
    QState* checkingState = state(WorkflowStates::checkingState);
    checkingState->assignProperty(updatesHeading, "text", phaseStatusText(WorkflowPhase::Checking));
    checkingState->assignProperty(updatesHeading, "mode", int(MessageMode::Information));
    checkingState->assignProperty(checkUpdatesButton, "enabled", false);
    for (const char* name : { WorkflowStates::fetchManifestState, WorkflowStates::fetchManifestForceState }) {
        connect(state(name), &QState::entered, cancelCheckButton, &QWidget::show);
        connect(state(name), &QState::exited, cancelCheckButton, &QWidget::hide);
    }
    checkingState->assignProperty(warningsBox, "mode", int(MessageMode::Hidden));
    // A check that waits to try again says so under its heading, instead of looking stuck.
    connect(workflow, &UpdateWorkflow::retrying, this, [this, checkingState](const QString& text) {
        if (checkingState->active())
            updatesHeading->showInformation(
                phaseStatusText(WorkflowPhase::Checking) + QLatin1Char('\n') + text);
    });
    // How the last update ended stands until the user checks or updates again; the plan made again
    // after an update is not such a check.
    for (const char* name : { WorkflowStates::fetchManifestState, WorkflowStates::fetchManifestForceState,
             WorkflowStates::updatingState })
        state(name)->assignProperty(resultBox, "mode", int(MessageMode::Hidden));
    // The offer to finish a stopped update holds only while the device is here and nothing runs.
    for (const char* name : { WorkflowStates::updatingState, WorkflowStates::noDeviceState })
        state(name)->assignProperty(stoppedOffer, "visible", false);

    // The updater check holds the check for updates back while it runs.
    state(WorkflowStates::appCheckIdleState)->assignProperty(checkUpdatesButton, "enabled", true);
    state(WorkflowStates::appCheckRunningState)->assignProperty(checkUpdatesButton, "enabled", false);

    connect(workflow, &UpdateWorkflow::planChanged, this, &SelectionPage::refreshUpdateList);
    connect(workflow, &UpdateWorkflow::devicesScanned, this, &SelectionPage::refreshOtherDevices);
    connect(state(WorkflowStates::deviceReadyState), &QState::entered, this,
        &SelectionPage::refreshOtherDevices, Qt::DirectConnection);
}

void SelectionPage::refreshOtherDevices()
{
    const std::optional<Connection> used = workflow->selectedConnection();
    const auto sameDevice = [](const Connection& a, const Connection& b) {
        if (a.serialNumber.isEmpty() || b.serialNumber.isEmpty())
            return a.path == b.path;
        return a.model == b.model && a.serialNumber == b.serialNumber;
    };
    const auto named = [](const Connection& c) {
        return QStringLiteral("%1 %2").arg(QLatin1String(modelName(c.model)),
            c.serialNumber.isEmpty() ? QStringLiteral("at %1").arg(c.path) : c.serialNumber);
    };
    QList<Connection> others;
    if (used) {
        const QList<Connection> connections = workflow->connections();
        for (const Connection& connection : connections) {
            const bool known = std::any_of(others.cbegin(), others.cend(),
                [&](const Connection& other) { return sameDevice(other, connection); });
            if (!known && !sameDevice(connection, *used))
                others.append(connection);
        }
    }
    QStringList names;
    for (const Connection& other : qAsConst(others))
        names.append(named(other));
    // The window works with one device; unplugging it is the switch, since the next one listed is
    // then taken by itself.
    otherDevicesNote->setText(names.isEmpty()
            ? QString()
            : QStringLiteral("Also connected: %1. To update %2 instead, unplug this %3.")
                  .arg(names.join(QStringLiteral(", ")),
                      others.size() == 1 ? QStringLiteral("it") : QStringLiteral("one of them"),
                      named(*used)));
    otherDevicesNote->setVisible(!names.isEmpty());
}

void SelectionPage::showResult(int mode, const QString& text)
{
    resultBox->setText(text);
    resultBox->setMode(mode);
}

void SelectionPage::refreshUpdateList()
{
    componentList->clear();

    const QStringList warnings = workflow->planWarnings();
    if (warnings.isEmpty()) {
        warningsBox->clear();
    } else {
        QString text = QStringLiteral("WARNING:");
        for (const QString& warning : warnings)
            text += QLatin1Char('\n') + warning;
        warningsBox->showWarning(text);
    }

    const QList<Component> plan = workflow->plan();
    const QDateTime lastChecked = workflow->lastChecked();
    if (!plan.isEmpty()) {
        updatesHeading->showInformation(
            QStringLiteral("The following components can be updated (last checked on %1):")
                .arg(lastChecked.toString()));
    } else if (lastChecked.isValid()) {
        updatesHeading->showInformation(
            QStringLiteral("No updates available (last checked on %1).").arg(lastChecked.toString()));
    } else if (workflow->isFetchingManifest()) {
        // Fetching can last until the download's no-progress limit; the heading says why nothing shows.
        updatesHeading->showInformation(phaseStatusText(WorkflowPhase::Checking));
    } else if (!workflow->checkFailureText().isEmpty()) {
        // The box that told of a failed check goes; what to try stays on the page.
        updatesHeading->showWarning(workflow->checkFailureText());
    } else {
        updatesHeading->clear();
    }
    const bool unverified = lastChecked.isValid() && !workflow->isCatalogueVerified();
    catalogueNote->setText(unverified ? WorkflowNotifier::unverifiedCatalogueText() : QString());
    catalogueNote->setVisible(unverified);

    estimateLabel->setText(plan.isEmpty()
            ? QString()
            : QStringLiteral("The update takes %1 once the files are downloaded.")
                  .arg(workflow->estimate().text()));
    estimateLabel->setVisible(!plan.isEmpty());

    for (const Component& component : plan) {
        auto* item = new QListWidgetItem(UpdatePlanner::describe(component), componentList);
        // Shown for information only: the plan is installed whole, in this order.
        item->setFlags(Qt::ItemIsEnabled);
    }
    // A screen reader reaching the list says what the heading above it says.
    componentList->setAccessibleDescription(
        updatesHeading->currentMode() == int(MessageMode::Hidden) ? QString() : updatesHeading->text());
}

} // namespace PelkPlus
