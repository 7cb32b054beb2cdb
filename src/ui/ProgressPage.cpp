#include "ui/ProgressPage.h"

#include "ui/MessageBox.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowPhase.h"
#include "workflow/WorkflowStates.h"

#include <QLabel>
#include <QProgressBar>
#include <QState>
#include <QVBoxLayout>

namespace PelkPlus {

ProgressPage::ProgressPage(UpdateWorkflow* engine, QWidget* parent)
    : QWidget(parent)
    , workflow(engine)
{
    setObjectName(QStringLiteral("progressPage"));

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
    sleepWarning = new MessageBox;
    sleepWarning->setObjectName(QStringLiteral("sleepWarning"));
    // A long step text (a large font, a narrow window) takes another line rather than widening
    // the window in the middle of an update or being cut off.
    for (QLabel* text : { componentLabel, downloadLabel, installLabel, overallLabel })
        text->setWordWrap(true);

    downloadLabel->setBuddy(downloadProgress);
    installLabel->setBuddy(installProgress);
    downloadProgress->setAccessibleName(QStringLiteral("Download"));
    installProgress->setAccessibleName(QStringLiteral("Install"));

    auto* progressLayout = new QVBoxLayout(this);
    progressLayout->setSpacing(15);
    progressLayout->addWidget(componentLabel);
    progressLayout->addWidget(downloadLabel);
    progressLayout->addWidget(downloadProgress);
    progressLayout->addWidget(installLabel);
    progressLayout->addWidget(installProgress);
    progressLayout->addWidget(overallLabel);
    progressLayout->addWidget(sleepWarning);
    progressLayout->addWidget(statusMessage);
    progressLayout->addStretch(1);
}

ProgressPage::~ProgressPage() = default;

void ProgressPage::followStates()
{
    connect(workflow->progressClock(), &UpdateProgressClock::progressChanged, overallLabel, &QLabel::setText);
    const auto state = [this](const char* name) { return workflow->state(name); };

    QState* updatingState = state(WorkflowStates::updatingState);
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

    connect(workflow, &UpdateWorkflow::sleepNotPrevented, sleepWarning, &MessageBox::showWarning);
    connect(updatingState, &QState::exited, sleepWarning, &MessageBox::clear);
    connect(workflow, &UpdateWorkflow::componentTextChanged, componentLabel, &QLabel::setText);
    connect(workflow, &UpdateWorkflow::downloadTextChanged, this,
        [this](const QString& text) { showStep(downloadLabel, downloadProgress, text); });
    connect(workflow, &UpdateWorkflow::installTextChanged, this,
        [this](const QString& text) { showStep(installLabel, installProgress, text); });
    connect(workflow, &UpdateWorkflow::downloadProgressChanged, this,
        [this](int percent) { showPercent(downloadProgress, percent); });
    connect(workflow, &UpdateWorkflow::installProgressChanged, this,
        [this](int percent) { showPercent(installProgress, percent); });
    connect(workflow, &UpdateWorkflow::statusChanged, this, &ProgressPage::showStatus);
    connect(workflow, &UpdateWorkflow::retrying, this,
        [this](const QString& text) { statusMessage->showWarning(text); });
}

void ProgressPage::showStep(QLabel* label, QProgressBar* bar, const QString& text)
{
    label->setText(text);
    // A screen reader names the bar by the step it shows, as the label above it does.
    bar->setAccessibleName(text);
}

void ProgressPage::showPercent(QProgressBar* bar, int percent)
{
    bar->setValue(percent);
    bar->setAccessibleDescription(QStringLiteral("%1 percent").arg(bar->value()));
}

void ProgressPage::showStatus(const QString& text, MessageKind kind)
{
    if (kind == MessageKind::Information)
        statusMessage->showInformation(text);
    else
        statusMessage->showWarning(text);
}

} // namespace PelkPlus
