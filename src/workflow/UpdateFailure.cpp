#include "workflow/UpdateFailure.h"

namespace PelkPlus {

const char* updateFailureName(UpdateFailure failure)
{
    switch (failure) {
    case UpdateFailure::None:
        return "failure";
    case UpdateFailure::Usage:
        return "usage";
    case UpdateFailure::NoDevice:
        return "no-device";
    case UpdateFailure::DeviceAccess:
        return "device-access";
    case UpdateFailure::Busy:
        return "busy";
    case UpdateFailure::Connection:
        return "connection";
    case UpdateFailure::Check:
        return "check";
    case UpdateFailure::Download:
        return "download";
    case UpdateFailure::Install:
        return "install";
    case UpdateFailure::DeviceLost:
        return "device-lost";
    case UpdateFailure::Reboot:
        return "reboot";
    case UpdateFailure::NotApplied:
        return "not-applied";
    case UpdateFailure::Power:
        return "power";
    case UpdateFailure::File:
        return "file";
    case UpdateFailure::Bundle:
        return "bundle";
    case UpdateFailure::Stopped:
        return "stopped";
    case UpdateFailure::Cancelled:
        return "cancelled";
    case UpdateFailure::ServiceUpdate:
        return "service-update";
    case UpdateFailure::Unsigned:
        return "unsigned";
    }
    return "failure";
}

QString updateFailureCause(UpdateFailure failure)
{
    switch (failure) {
    case UpdateFailure::None:
        break;
    case UpdateFailure::Usage:
        return QStringLiteral("The command was not understood.");
    case UpdateFailure::NoDevice:
        return QStringLiteral("No device is connected.");
    case UpdateFailure::DeviceAccess:
        return QStringLiteral("This account may not open the device.");
    case UpdateFailure::Busy:
        return QStringLiteral("Another updater has the device open.");
    case UpdateFailure::Connection:
        return QStringLiteral("The device did not answer.");
    case UpdateFailure::Check:
        return QStringLiteral("The update catalogue could not be fetched.");
    case UpdateFailure::Download:
        return QStringLiteral(
            "A file of the update could not be downloaded, so nothing was sent to the device.");
    case UpdateFailure::Install:
        return QStringLiteral("The transfer to the device failed.");
    case UpdateFailure::DeviceLost:
        return QStringLiteral("The device was disconnected before the update was finished.");
    case UpdateFailure::Reboot:
        return QStringLiteral("The device failed to reboot after update.");
    case UpdateFailure::NotApplied:
        return QStringLiteral("The device does not report the version it was sent.");
    case UpdateFailure::Power:
        return QStringLiteral("The computer runs on a low battery that nothing charges.");
    case UpdateFailure::File:
        return QStringLiteral("The file cannot be installed as that component.");
    case UpdateFailure::Bundle:
        return QStringLiteral("The update bundle was refused.");
    case UpdateFailure::Stopped:
        return QStringLiteral("The update was stopped before its end.");
    case UpdateFailure::Cancelled:
        return QStringLiteral("The update was cancelled before it began.");
    case UpdateFailure::ServiceUpdate:
        return QStringLiteral("The update cannot be installed over USB.");
    case UpdateFailure::Unsigned:
        return QStringLiteral("The update catalogue is not signed by a trusted key.");
    }
    return QString();
}

QString updateFailureNextStep(UpdateFailure failure)
{
    switch (failure) {
    case UpdateFailure::None:
        break;
    case UpdateFailure::Usage:
        return QStringLiteral("See the options with --help.");
    case UpdateFailure::NoDevice:
        return QStringLiteral("Connect the device by USB and try again.");
    case UpdateFailure::DeviceAccess:
        return QStringLiteral(
            "Give this account access to the device's node, then plug the device in again.");
    case UpdateFailure::Busy:
        return QStringLiteral("Close the other updater and try again.");
    case UpdateFailure::Connection:
        // Unplugging clears a device that hangs; a wait shorter than five seconds may not.
        return QStringLiteral("Please unplug the device, wait five seconds and plug it in again.");
    case UpdateFailure::Reboot:
        return updateFailureNextStep(UpdateFailure::Connection)
            + QStringLiteral(" What is left of the update is then planned again.");
    case UpdateFailure::Check:
        return QStringLiteral("Check that this computer is online, then check for updates again.");
    case UpdateFailure::Download:
        return QStringLiteral("Check that this computer is online and has room for the files, then start the "
                              "update again.");
    case UpdateFailure::Install:
        return QStringLiteral("Start the update again, and keep the device connected until it is finished.");
    case UpdateFailure::DeviceLost:
        return QStringLiteral("Connect it again: what was not installed is planned again once it is back.");
    case UpdateFailure::NotApplied:
        return QStringLiteral(
            "Start the update again; if the device still does not take it, unplug the device, "
            "wait five seconds, plug it in again and try once more.");
    case UpdateFailure::Power:
        return QStringLiteral("Plug the computer in, then start the update again.");
    case UpdateFailure::File:
        return QStringLiteral("Choose the file made for that component and this device.");
    case UpdateFailure::Bundle:
        return QStringLiteral("Get the bundle again from its publisher.");
    case UpdateFailure::Stopped:
        return QStringLiteral("Start the update again to install what is left.");
    case UpdateFailure::Cancelled:
        return QStringLiteral("Start the update again when you are ready.");
    case UpdateFailure::ServiceUpdate:
        return QStringLiteral("Have the device's MCU programmed by a service centre.");
    case UpdateFailure::Unsigned:
        return QStringLiteral("Install from it only if you trust where it came from.");
    }
    return QString();
}

QString updateFailureText(UpdateFailure failure)
{
    const QString cause = updateFailureCause(failure);
    const QString next = updateFailureNextStep(failure);
    return cause.isEmpty() ? next : next.isEmpty() ? cause : cause + QLatin1Char(' ') + next;
}

} // namespace PelkPlus
