#pragma once

#include "update/Component.h"

#include <QList>
#include <QString>

namespace PelkPlus {

// How long an update takes on the device, worked out from the plan and the protocol's timing
// before anything is sent: each component's stream of reports at one a millisecond, the write
// pause after every flash sector, the check that the device is ready and its restart. The
// downloads come before all of it and are not counted: the network's speed is not known. The
// timing is the protocol's real one (DeviceProtocol), whatever clock a test runs the waits on.
class UpdateEstimate
{
public:
    // The steps of one component, in the order they happen, in milliseconds.
    struct Steps
    {
        ComponentType type = ComponentType::McuFirmware;
        qint64 readyCheckMs = 0;
        // Every report of the transfer at one a millisecond.
        qint64 streamMs = 0;
        // The reports that carry the file's bytes, in the order they are sent.
        qint64 dataReports = 0;
        qint64 sectorPauseMs = 0;
        // From the device's confirmation until it is back and ready.
        qint64 rebootMs = 0;

        qint64 totalMs() const { return readyCheckMs + streamMs + sectorPauseMs + rebootMs; }
    };

    UpdateEstimate() = default;
    // model is the device's DeviceModel: a Pelk is given a fixed time to get ready, a Pelk+ says
    // so at once.
    static UpdateEstimate forPlan(const QList<Component>& plan, int model);
    // The steps of one component; its size is the file's as the catalogue or the disk gives it.
    static Steps stepsFor(ComponentType type, qint64 size, int model);

    // The same plan on a device that takes one report every msPerReport milliseconds instead of
    // every one: its streams take that much longer. A device is never quicker than its USB frames,
    // so a figure below the protocol's own changes nothing.
    UpdateEstimate pacedAt(double msPerReport) const;
    int model() const { return deviceModel; }

    QList<Steps> components() const { return steps; }
    qint64 totalMs() const;
    // The time of the components before index.
    qint64 beforeMs(int index) const;
    bool isEmpty() const { return steps.isEmpty(); }

    // "about 40 seconds", "about 1 minute", "about 3 minutes": as a person says it.
    static QString spokenText(qint64 ms);
    // The time spokenText says for ms, in milliseconds: 30000 for 26 s ("about 30 seconds"); ms
    // itself where it says "a few seconds".
    static qint64 spokenMs(qint64 ms);
    QString text() const { return spokenText(totalMs()); }

private:
    QList<Steps> steps;
    int deviceModel = 1;
};

} // namespace PelkPlus
