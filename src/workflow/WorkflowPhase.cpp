#include "workflow/WorkflowPhase.h"

namespace PelkPlus {

namespace {

// Said with every step that writes to the device; it ends the status texts of those steps.
QString doNotDisconnect(const QString& first)
{
    return first + QStringLiteral("\n\nPlease DO NOT disconnect or power down the device!");
}

} // namespace

QString phaseStatusText(WorkflowPhase phase)
{
    switch (phase) {
    case WorkflowPhase::NoDevice:
        return QStringLiteral("Please connect a PELK device.");
    case WorkflowPhase::Connecting:
        return QStringLiteral("Waiting for the PELK device to get ready...");
    case WorkflowPhase::NotAnswering:
        return QStringLiteral("The PELK device does not answer. Please unplug it, wait five seconds and plug "
                              "it in again.");
    case WorkflowPhase::Checking:
        return QStringLiteral("Checking for latest updates...");
    case WorkflowPhase::Updating:
        return QStringLiteral("Please do NOT disconnect or power down the device!");
    case WorkflowPhase::AwaitingUpdateMode:
        return doNotDisconnect(QStringLiteral("Waiting for the device to enter update mode..."));
    case WorkflowPhase::Installing:
        return doNotDisconnect(QStringLiteral("Update in progress..."));
    case WorkflowPhase::AwaitingFinish:
        return doNotDisconnect(QStringLiteral("Waiting for confirmation that the update is finished..."));
    case WorkflowPhase::AwaitingPowerCycle:
        return QStringLiteral("Please power-cycle the device now.\n\nThe update was written to the device; "
                              "switching it off and on again finishes it.");
    case WorkflowPhase::AwaitingReboot:
        return QStringLiteral("Waiting for the device to reboot...");
    case WorkflowPhase::Idle:
    case WorkflowPhase::Planned:
    case WorkflowPhase::NextComponent:
    case WorkflowPhase::Downloading:
        break;
    }
    return QString();
}

const char* phaseName(WorkflowPhase phase)
{
    switch (phase) {
    case WorkflowPhase::NoDevice:
        return "NoDevice";
    case WorkflowPhase::Connecting:
        return "Connecting";
    case WorkflowPhase::NotAnswering:
        return "NotAnswering";
    case WorkflowPhase::Idle:
        return "Idle";
    case WorkflowPhase::Checking:
        return "Checking";
    case WorkflowPhase::Planned:
        return "Planned";
    case WorkflowPhase::Updating:
        return "Updating";
    case WorkflowPhase::NextComponent:
        return "NextComponent";
    case WorkflowPhase::Downloading:
        return "Downloading";
    case WorkflowPhase::AwaitingUpdateMode:
        return "AwaitingUpdateMode";
    case WorkflowPhase::Installing:
        return "Installing";
    case WorkflowPhase::AwaitingFinish:
        return "AwaitingFinish";
    case WorkflowPhase::AwaitingPowerCycle:
        return "AwaitingPowerCycle";
    case WorkflowPhase::AwaitingReboot:
        return "AwaitingReboot";
    }
    return "unknown phase";
}

} // namespace PelkPlus
