#pragma once

#include <QMetaType>

namespace PelkPlus {

// How an update ended: told once per update, after the workflow has settled (the plan made again
// against the restarted device, or the connect prompt shown), so that a face may read the plan.
enum class UpdateOutcome {
    // Every component was installed and the device reports each one it could be asked about.
    Done,
    // A download, a transfer or a restart failed, or the device was lost.
    Failed,
    // The update was stopped before its end: another device came back in place of the one being
    // updated, or the workflow was closed.
    Stopped,
    // The device came back without the component it was sent.
    NotApplied,
};

// The outcome's name for a log line ("not applied").
const char* updateOutcomeName(UpdateOutcome outcome);

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::UpdateOutcome)
