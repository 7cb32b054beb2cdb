#include "workflow/UpdateEstimate.h"

#include "device/DeviceModel.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceMonitorWorker.h"

#include <QtGlobal>

namespace PelkPlus {

namespace {

using P = DeviceProtocol;

qint64 sectorsOf(qint64 size)
{
    return (qMax<qint64>(size, 0) + P::sectorSize - 1) / P::sectorSize;
}

} // namespace

UpdateEstimate::Steps UpdateEstimate::stepsFor(ComponentType type, qint64 size, int model)
{
    Steps result;
    result.type = type;
    // No file the device can take is larger; a size announced beyond it must not overflow the sums.
    size = qBound<qint64>(0, size, largestComponentSize(type));
    // A Pelk cannot be asked; it is given a fixed time. A Pelk+ in update mode answers its first
    // query, the 20 s bound being for one that never says so.
    result.readyCheckMs = model == Base ? P::baseReadyDelayMs : 0;
    // The end of a file is met only on the read after its last byte, so a stream always carries
    // one packet more than its bytes fill, and then its end packet.
    switch (type) {
    case ComponentType::McuFirmware:
        result.streamMs = (size / P::mcuPayloadSize + 2) * P::reportMs;
        break;
    case ComponentType::DspFirmware:
        result.streamMs = (size / P::dspLineLength / P::dspPayloadSize + 2) * P::reportMs;
        break;
    case ComponentType::Styles:
    case ComponentType::EnsembleAudio:
        // A sector always takes all its reports, the last one zero-filled; the terminating packet,
        // where one is sent, is a single report more.
        result.streamMs = (sectorsOf(size) * P::packetsPerSector + 1) * P::reportMs;
        result.sectorPauseMs = sectorsOf(size) * P::sectorPauseMs;
        break;
    default:
        // Nothing the device takes: the update stops before it.
        result.readyCheckMs = 0;
        return result;
    }
    // The monitor sees the device leave while it restarts, and back at its next poll, half an
    // interval later on average.
    result.rebootMs = P::restartMs + DeviceMonitorWorker::pollIntervalMs / 2;
    return result;
}

UpdateEstimate UpdateEstimate::forPlan(const QList<Component>& plan, int model)
{
    UpdateEstimate estimate;
    for (const Component& component : plan)
        estimate.steps.append(stepsFor(component.type, component.size, model));
    return estimate;
}

qint64 UpdateEstimate::totalMs() const
{
    return beforeMs(steps.size());
}

qint64 UpdateEstimate::beforeMs(int index) const
{
    qint64 sum = 0;
    for (int i = 0; i < qMin(index, int(steps.size())); ++i)
        sum += steps.at(i).totalMs();
    return sum;
}

QString UpdateEstimate::spokenText(qint64 ms)
{
    const qint64 seconds = (qMax<qint64>(ms, 0) + 500) / 1000;
    if (seconds < 10)
        return QStringLiteral("a few seconds");
    // Below a minute to the nearest ten seconds, then to the nearest minute; nobody says
    // "about 1 minute 10 seconds" of a wait.
    if (seconds < 55)
        return QStringLiteral("about %1 seconds").arg((seconds + 5) / 10 * 10);
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes <= 1)
        return QStringLiteral("about 1 minute");
    if (minutes < 90)
        return QStringLiteral("about %1 minutes").arg(minutes);
    const qint64 halfHours = (minutes + 15) / 30;
    return halfHours % 2 ? QStringLiteral("about %1.5 hours").arg(halfHours / 2)
                         : QStringLiteral("about %1 hours").arg(halfHours / 2);
}

} // namespace PelkPlus
