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
        result.dataReports = (size + P::mcuPayloadSize - 1) / P::mcuPayloadSize;
        break;
    case ComponentType::DspFirmware:
        result.streamMs = (size / P::dspLineLength / P::dspPayloadSize + 2) * P::reportMs;
        result.dataReports = (size / P::dspLineLength + P::dspPayloadSize - 1) / P::dspPayloadSize;
        break;
    case ComponentType::Styles:
    case ComponentType::EnsembleAudio:
        result.dataReports = (size + P::sectorPayloadSize - 1) / P::sectorPayloadSize;
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
    estimate.deviceModel = model;
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

UpdateEstimate UpdateEstimate::pacedAt(double msPerReport) const
{
    UpdateEstimate paced = *this;
    if (!(msPerReport > P::reportMs))
        return paced;
    for (Steps& component : paced.steps) {
        // Bounded as the sizes are: a device that seems to take minutes a report must not
        // overflow the sums.
        component.streamMs = qint64(qMin(double(component.streamMs) * msPerReport / P::reportMs, 1e12));
    }
    return paced;
}

qint64 UpdateEstimate::spokenMs(qint64 ms)
{
    const qint64 seconds = (qMax<qint64>(ms, 0) + 500) / 1000;
    if (seconds < 10)
        return qMax<qint64>(ms, 0);
    // Below a minute to the nearest ten seconds, then to the nearest minute; nobody says
    // "about 1 minute 10 seconds" of a wait.
    if (seconds < 55)
        return (seconds + 5) / 10 * 10000;
    const qint64 minutes = qMax<qint64>(1, (seconds + 30) / 60);
    if (minutes < 90)
        return minutes * 60000;
    return (minutes + 15) / 30 * 1800000;
}

QString UpdateEstimate::spokenText(qint64 ms)
{
    const qint64 said = spokenMs(ms);
    if (said < 9500)
        return QStringLiteral("a few seconds");
    if (said < 60000)
        return QStringLiteral("about %1 seconds").arg(said / 1000);
    const qint64 minutes = said / 60000;
    if (minutes == 1)
        return QStringLiteral("about 1 minute");
    if (minutes < 90)
        return QStringLiteral("about %1 minutes").arg(minutes);
    const qint64 halfHours = said / 1800000;
    return halfHours % 2 ? QStringLiteral("about %1.5 hours").arg(halfHours / 2)
                         : QStringLiteral("about %1 hours").arg(halfHours / 2);
}

} // namespace PelkPlus
