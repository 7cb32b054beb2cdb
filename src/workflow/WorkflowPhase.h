#pragma once

#include <QMetaType>
#include <QString>

namespace PelkPlus {

// What the workflow is doing, as a face shows it. Each phase is entered with one state of the
// workflow region (Downloading with either download step); the states a face has no use for
// (the regions, the fetch and plan steps inside Checking, the failed install that goes straight
// back to Checking) have no phase. How an update ended is told by UpdateOutcome, not by a phase.
enum class WorkflowPhase {
    // No device: the connect prompt.
    NoDevice,
    // A device was found and is being opened.
    Connecting,
    // A device is on the bus but did not answer, or answered wrongly: it is to be plugged in again.
    NotAnswering,
    // A device is ready and nothing is planned.
    Idle,
    // The catalogue is fetched and the plan made.
    Checking,
    // A plan is ready to be installed.
    Planned,
    // An update has begun; the warning not to unplug stands for all of it.
    Updating,
    // The previous component was checked on the device and the next one is chosen.
    NextComponent,
    Downloading,
    AwaitingUpdateMode,
    Installing,
    // The device confirmed the file; it is expected to drop off the bus and restart.
    AwaitingFinish,
    // The device did not drop off in time and must be power-cycled.
    AwaitingPowerCycle,
    AwaitingReboot,
};

// The status text of the phase, in the words both faces show; empty for the phases whose texts are
// made of the plan or of progress.
QString phaseStatusText(WorkflowPhase phase);
// The phase's name for a log line ("AwaitingReboot").
const char* phaseName(WorkflowPhase phase);

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::WorkflowPhase)
