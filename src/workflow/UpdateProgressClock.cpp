#include "workflow/UpdateProgressClock.h"

#include "device/DeviceProtocol.h"

#include <cmath>

namespace PelkPlus {

UpdateProgressClock::UpdateProgressClock(QObject* parent)
    : QObject(parent)
{
    steady.start();
    heartbeat.setInterval(heartbeatMs);
    connect(&heartbeat, &QTimer::timeout, this, &UpdateProgressClock::beat);
}

UpdateProgressClock::~UpdateProgressClock() = default;

void UpdateProgressClock::setTimeSource(std::function<qint64()> source)
{
    timeSource = std::move(source);
}

qint64 UpdateProgressClock::now() const
{
    return timeSource ? timeSource() : steady.elapsed();
}

void UpdateProgressClock::begin(const UpdateEstimate& planned)
{
    estimate = planned;
    running = true;
    index = -1;
    step = Step::Before;
    stepStartMs = now();
    fraction = 0;
    heartbeat.start();
    beat();
}

void UpdateProgressClock::enterPhase(WorkflowPhase phase, int componentIndex)
{
    if (!running)
        return;
    Step entered {};
    switch (phase) {
    case WorkflowPhase::AwaitingUpdateMode:
        entered = Step::ReadyCheck;
        break;
    case WorkflowPhase::Installing:
        entered = Step::Transfer;
        break;
    // A power cycle the user must do is still part of the restart.
    case WorkflowPhase::AwaitingFinish:
    case WorkflowPhase::AwaitingPowerCycle:
    case WorkflowPhase::AwaitingReboot:
        entered = Step::Reboot;
        break;
    case WorkflowPhase::Updating:
    case WorkflowPhase::NextComponent:
    case WorkflowPhase::Downloading:
        entered = Step::Before;
        break;
    default:
        return;
    }
    // The restart goes on through the phases it is made of; its time runs from its start.
    if (entered != step || componentIndex != index) {
        step = entered;
        index = componentIndex;
        stepStartMs = now();
        fraction = 0;
    }
    beat();
}

void UpdateProgressClock::setTransferFraction(double done)
{
    if (!running || step != Step::Transfer)
        return;
    fraction = qBound(0.0, done, 1.0);
}

void UpdateProgressClock::stop()
{
    if (!running)
        return;
    running = false;
    heartbeat.stop();
    emit progressChanged(QString());
}

qint64 UpdateProgressClock::doneMs() const
{
    if (index < 0 || index >= estimate.components().size())
        return index < 0 ? 0 : estimate.totalMs();
    const UpdateEstimate::Steps steps = estimate.components().at(index);
    const qint64 before = estimate.beforeMs(index);
    const qint64 elapsed = now() - stepStartMs;
    switch (step) {
    case Step::Before:
        return before;
    case Step::ReadyCheck:
        return before + qMin(elapsed, steps.readyCheckMs);
    case Step::Transfer: {
        // The transfer's share counts bytes: a sector's pause comes after its last byte, so only
        // the pauses of the sectors before the one under way are done. The share stands still
        // during a pause; the time goes on.
        const qint64 span = steps.streamMs + steps.sectorPauseMs;
        const qint64 sectors = steps.sectorPauseMs / DeviceProtocol::sectorPauseMs;
        const qint64 pausesDone = qMax<qint64>(0, qint64(std::ceil(fraction * double(sectors))) - 1);
        const qint64 reported
            = qint64(fraction * double(steps.streamMs)) + pausesDone * DeviceProtocol::sectorPauseMs;
        return before + steps.readyCheckMs + qBound(reported, elapsed, qMax(reported, span));
    }
    case Step::Reboot:
        return before + steps.readyCheckMs + steps.streamMs + steps.sectorPauseMs
            + qMin(elapsed, steps.rebootMs);
    }
    return before;
}

int UpdateProgressClock::component() const
{
    return qBound(0, index, qMax(0, int(estimate.components().size()) - 1));
}

int UpdateProgressClock::percent() const
{
    const qint64 total = estimate.totalMs();
    return total > 0 ? int(doneMs() * 100 / total) : 0;
}

QString UpdateProgressClock::text(int component, int count, int percent, qint64 remainingMs)
{
    return QStringLiteral("Component %1 of %2, %3 % of the update done, %4 left")
        .arg(qBound(1, component + 1, qMax(count, 1)))
        .arg(count)
        .arg(percent)
        .arg(UpdateEstimate::spokenText(remainingMs));
}

void UpdateProgressClock::beat()
{
    if (!running)
        return;
    emit progressChanged(text(component(), estimate.components().size(), percent(), remainingMs()));
}

} // namespace PelkPlus
