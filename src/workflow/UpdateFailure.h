#pragma once

#include <QMetaType>
#include <QString>

namespace PelkPlus {

// Why an update or a check failed, or why a command could not begin: each kind has its cause and
// the user's next step in words that every face shows alike (the window's box and the strip after
// it, the command line's text, its JSON "kind"), so that the same event reads the same everywhere.
enum class UpdateFailure {
    // No failure known; the JSON name is the catch-all "failure".
    None,
    Usage,
    NoDevice,
    DeviceAccess,
    Busy,
    Connection,
    Check,
    Download,
    // A transfer failed while the device stayed connected.
    Install,
    // The device went away before the update was finished.
    DeviceLost,
    Reboot,
    NotApplied,
    // The computer runs on a low battery that nothing charges.
    Power,
    File,
    Bundle,
    Stopped,
    Cancelled,
    ServiceUpdate,
    Unsigned,
};

// The stable name scripts read in the command line's JSON ("device-lost").
const char* updateFailureName(UpdateFailure failure);
// What went wrong, as one sentence; empty for None.
QString updateFailureCause(UpdateFailure failure);
// What the user can do now, as one sentence or two; empty for None.
QString updateFailureNextStep(UpdateFailure failure);
// The cause and the next step together.
QString updateFailureText(UpdateFailure failure);

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::UpdateFailure)
