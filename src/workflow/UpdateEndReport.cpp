#include "workflow/UpdateEndReport.h"

#include "workflow/WorkflowStates.h"

#include <QDebug>
#include <QState>

namespace PelkPlus {

namespace {

QState* stateIn(const QState* regions, const char* name)
{
    QState* found = regions->findChild<QState*>(QLatin1String(name));
    Q_ASSERT_X(found, "UpdateEndReport", name);
    return found;
}

} // namespace

UpdateEndReport::UpdateEndReport(
    std::function<UpdateFailure()> failureNotedSoFar, std::function<bool()> deviceSelected, QObject* parent)
    : QObject(parent)
    , lastFailure(std::move(failureNotedSoFar))
    , deviceHere(std::move(deviceSelected))
{ }

UpdateEndReport::~UpdateEndReport() = default;

void UpdateEndReport::followUpdate(const QState* regions)
{
    connect(
        stateIn(regions, WorkflowStates::updatingState), &QState::entered, this,
        [this] {
            // An end still waiting for its cause is told before the next update begins.
            if (endDue)
                emitEnd();
            running = true;
            outcome = UpdateOutcome::Failed;
        },
        Qt::DirectConnection);
}

void UpdateEndReport::nameOutcome(UpdateOutcome named)
{
    if (named != UpdateOutcome::Stopped || running)
        outcome = named;
}

void UpdateEndReport::reportWhenResting(const QState* regions)
{
    for (const char* resting : { WorkflowStates::nothingToInstallState, WorkflowStates::readyToInstallState,
             WorkflowStates::promptConnectState, WorkflowStates::promptReplugState }) {
        connect(stateIn(regions, resting), &QState::entered, this, &UpdateEndReport::report,
            Qt::DirectConnection);
    }
    connect(
        stateIn(regions, WorkflowStates::updatingState), &QState::exited, this, [this] { endDue = running; },
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
    if (outcome == UpdateOutcome::Failed && lastFailure() == UpdateFailure::None)
        emit failureNoted(deviceHere() ? UpdateFailure::Install : UpdateFailure::DeviceLost);
    if (outcome == UpdateOutcome::Stopped && lastFailure() == UpdateFailure::None)
        emit failureNoted(UpdateFailure::Stopped);
    qDebug() << "Update ended:" << updateOutcomeName(outcome);
    emit updateEnded(outcome);
}

} // namespace PelkPlus
