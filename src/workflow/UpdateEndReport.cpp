#include "workflow/UpdateEndReport.h"

#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QDebug>
#include <QState>

namespace PelkPlus {

UpdateEndReport::UpdateEndReport(UpdateWorkflow& owner)
    : QObject(&owner)
    , workflow(owner)
{ }

UpdateEndReport::~UpdateEndReport() = default;

void UpdateEndReport::followUpdate()
{
    connect(
        workflow.state(WorkflowStates::updatingState), &QState::entered, this,
        [this] {
            // An end still waiting for its cause is told before the next update begins.
            if (endDue)
                emitEnd();
            running = true;
            outcome = UpdateOutcome::Failed;
        },
        Qt::DirectConnection);
    connect(&workflow, &UpdateWorkflow::updateFinished, this, [this] { outcome = UpdateOutcome::Done; });
    connect(&workflow, &UpdateWorkflow::componentNotApplied, this,
        [this] { outcome = UpdateOutcome::NotApplied; });
    connect(&workflow, &UpdateWorkflow::foreignDeviceReturned, this, [this] {
        if (running)
            outcome = UpdateOutcome::Stopped;
    });
}

void UpdateEndReport::reportWhenResting()
{
    for (const char* resting : { WorkflowStates::nothingToInstallState, WorkflowStates::readyToInstallState,
             WorkflowStates::promptConnectState, WorkflowStates::promptReplugState }) {
        connect(
            workflow.state(resting), &QState::entered, this, &UpdateEndReport::report, Qt::DirectConnection);
    }
    connect(
        workflow.state(WorkflowStates::updatingState), &QState::exited, this, [this] { endDue = running; },
        Qt::DirectConnection);
}

std::optional<UpdateOutcome> UpdateEndReport::endAtExit()
{
    if (!running)
        return std::nullopt;
    running = false;
    return endDue ? outcome : UpdateOutcome::Stopped;
}

void UpdateEndReport::report()
{
    if (!endDue || (causeKnown && !causeKnown()))
        return;
    emitEnd();
}

void UpdateEndReport::emitEnd()
{
    endDue = false;
    running = false;
    // A failure no step named: the device went away, or the transfer failed with it still here.
    if (outcome == UpdateOutcome::Failed && workflow.lastFailure() == UpdateFailure::None)
        workflow.noteFailure(workflow.hasDevice() ? UpdateFailure::Install : UpdateFailure::DeviceLost);
    if (outcome == UpdateOutcome::Stopped && workflow.lastFailure() == UpdateFailure::None)
        workflow.noteFailure(UpdateFailure::Stopped);
    qDebug() << "Update ended:" << updateOutcomeName(outcome);
    emit workflow.updateEnded(outcome);
}

} // namespace PelkPlus
