#include "ui/UpdateReport.h"

#include "ui/MessageBox.h"
#include "workflow/InstallSummary.h"
#include "workflow/UpdateWorkflow.h"

namespace PelkPlus {

namespace {

bool isUpdatePhase(WorkflowPhase phase)
{
    switch (phase) {
    case WorkflowPhase::Updating:
    case WorkflowPhase::NextComponent:
    case WorkflowPhase::Downloading:
    case WorkflowPhase::AwaitingUpdateMode:
    case WorkflowPhase::Installing:
    case WorkflowPhase::AwaitingFinish:
    case WorkflowPhase::AwaitingPowerCycle:
    case WorkflowPhase::AwaitingReboot:
        return true;
    case WorkflowPhase::NoDevice:
    case WorkflowPhase::Connecting:
    case WorkflowPhase::NotAnswering:
    case WorkflowPhase::Idle:
    case WorkflowPhase::Checking:
    case WorkflowPhase::Planned:
        break;
    }
    return false;
}

} // namespace

UpdateReport::UpdateReport(UpdateWorkflow* engine, QObject* parent)
    : QObject(parent)
    , workflow(engine)
{
    connect(workflow, &UpdateWorkflow::phaseChanged, this, &UpdateReport::onPhaseChanged);
    connect(workflow, &UpdateWorkflow::updateEnded, this, &UpdateReport::onUpdateEnded);
}

UpdateReport::~UpdateReport() = default;

QString UpdateReport::failureText(const UpdateWorkflow& engine)
{
    return InstallSummary::failureText(engine.installSummary().notInstalled(), engine.lastFailure());
}

QString UpdateReport::backText(const UpdateWorkflow& engine)
{
    return InstallSummary::backText(engine.installSummary().notInstalled(), engine.lastFailure());
}

void UpdateReport::onPhaseChanged(WorkflowPhase phase)
{
    if (phase == WorkflowPhase::Updating) {
        running = true;
        interrupted = false;
        components = workflow->plan().size();
    }
    if (running && isUpdatePhase(phase))
        lastUpdatePhase = phase;
}

void UpdateReport::onUpdateEnded(UpdateOutcome outcome)
{
    running = false;
    interrupted = outcome != UpdateOutcome::Done && lastUpdatePhase == WorkflowPhase::Installing;
    if (outcome == UpdateOutcome::Done)
        emit ended(outcome, int(MessageMode::Information), workflow->installSummary().completionText());
    else
        emit ended(outcome, int(MessageMode::Warning), failureText(*workflow));
}

} // namespace PelkPlus
