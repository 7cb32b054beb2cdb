#include "workflow/UpdateProgressClock.h"

#include "device/DeviceModel.h"
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
    spokenOffsetMs = UpdateEstimate::spokenMs(estimate.totalMs()) - estimate.totalMs();
    rateMeasured = false;
    answering = false;
    lastPhase = WorkflowPhase::Updating;
    phaseStartMs = now();
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
    // The plan tells no component once it has run out: after one has begun, that is the end of
    // the last, not the start again (which a face would tell as "Component 1 of 4, 0 %").
    if (componentIndex < 0 && index >= 0)
        componentIndex = int(estimate.components().size());
    if (phase != lastPhase) {
        lastPhase = phase;
        phaseStartMs = now();
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
    measureRate();
}

// Over the first sector's worth of reports, or the whole transfer where it is shorter: a sector's
// write pause comes after its last report, so no pause is inside the time measured. A transfer of
// a few hundred reports is too short to tell the device's pace from the time the transfer takes to
// begin; the next one is measured instead.
void UpdateProgressClock::measureRate()
{
    constexpr qint64 fewestReports = 256;
    if (rateMeasured || index < 0 || index >= estimate.components().size())
        return;
    const qint64 reports = estimate.components().at(index).dataReports;
    const qint64 taken = qint64(fraction * double(reports));
    const qint64 elapsed = now() - stepStartMs;
    if (reports < fewestReports || taken < qMin<qint64>(DeviceProtocol::packetsPerSector, reports)
        || elapsed <= 0)
        return;
    rateMeasured = true;
    const double msPerReport = double(elapsed) / double(taken);
    // The start of a transfer and the host's own pace have their slack; only a device clearly
    // slower than its USB frames is given more time.
    if (msPerReport < 1.25 * DeviceProtocol::reportMs)
        return;
    estimate = estimate.pacedAt(msPerReport);
    spokenOffsetMs = 0;
}

void UpdateProgressClock::awaitAnswer(bool awaiting)
{
    if (answering == awaiting)
        return;
    // The bound of the wait the question came in goes on running meanwhile.
    answering = awaiting;
    beat();
}

QString UpdateProgressClock::awaitedText(WorkflowPhase phase, int model, bool answer, qint64 boundLeftMs)
{
    const auto upTo = [boundLeftMs](const QString& what) {
        return QStringLiteral("%1, up to %2 s").arg(what).arg(qMax<qint64>(0, (boundLeftMs + 999) / 1000));
    };
    if (answer)
        return QStringLiteral("waiting for your answer");
    switch (phase) {
    // A Pelk cannot be asked; its fixed time is in the estimate.
    case WorkflowPhase::AwaitingUpdateMode:
        return model == Base ? QString() : upTo(QStringLiteral("waiting for the device to get ready"));
    case WorkflowPhase::AwaitingPowerCycle:
        return QStringLiteral("waiting for you to switch the device off and on again");
    case WorkflowPhase::AwaitingReboot:
        return upTo(QStringLiteral("waiting for the device to restart"));
    default:
        return QString();
    }
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

QString UpdateProgressClock::text(int component, int count, int percent, const QString& awaited)
{
    return QStringLiteral("Component %1 of %2, %3 % of the update done, %4")
        .arg(qBound(1, component + 1, qMax(count, 1)))
        .arg(count)
        .arg(percent)
        .arg(awaited);
}

QString UpdateProgressClock::currentText() const
{
    qint64 bound = 0;
    if (lastPhase == WorkflowPhase::AwaitingUpdateMode)
        bound = DeviceProtocol::readyDeadlineMs;
    else if (lastPhase == WorkflowPhase::AwaitingReboot)
        bound = DeviceProtocol::rebootReturnMs;
    // The bound is the protocol's own; a test's faster clock is counted at the protocol's pace.
    const qint64 waited = (now() - phaseStartMs) * DeviceProtocol::timeScale();
    const QString awaited = awaitedText(lastPhase, estimate.model(), answering, bound - waited);
    const int count = estimate.components().size();
    return awaited.isEmpty() ? text(component(), count, percent(), remainingMs() + spokenOffsetMs)
                             : text(component(), count, percent(), awaited);
}

void UpdateProgressClock::beat()
{
    if (running)
        emit progressChanged(currentText());
}

} // namespace PelkPlus
