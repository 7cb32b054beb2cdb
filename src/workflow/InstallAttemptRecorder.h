#pragma once

#include "app/UpdateHistory.h"
#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "update/Component.h"

#include <optional>

namespace PelkPlus {

// The history's record of every attempt to install a component, whatever its outcome. The attempt
// whose file went to the device stays open until the device tells how it ended, or the update is
// left without knowing. An open attempt is kept in a file beside the history until it is recorded,
// so that one the updater could not record (it was killed, or the computer lost power) is recorded
// as interrupted at the next start.
class InstallAttemptRecorder
{
public:
    InstallAttemptRecorder() = default;

    // The record of every install attempt; tests point it elsewhere before an update.
    UpdateHistory& history() { return historyFile; }

    // The record of installing the component on the device, which held info before; the image's
    // digest is taken from its file when hashFile is set.
    static UpdateHistoryEntry attemptFor(const Component& component, const std::optional<Connection>& device,
        const DeviceInfo& info, bool hashFile);
    // The lower-case hex SHA-256 of a file; empty when it cannot be read.
    static QString fileDigest(const QString& path);

    void record(UpdateHistoryEntry entry, UpdateHistoryEntry::Outcome outcome);
    // The attempt whose file is going to the device now; its outcome is told by close().
    void open(const UpdateHistoryEntry& entry);
    const std::optional<UpdateHistoryEntry>& openAttempt() const { return pending; }
    // Records the open attempt with the outcome, if one is open.
    void close(UpdateHistoryEntry::Outcome outcome);
    // Forgets the open attempt, which its owner records once its outcome is known.
    void discardOpen() { pending.reset(); }
    // Records as interrupted the attempt an earlier run left open; false when there was none.
    bool recordLeftOpen();
    // Where the open attempt is kept: beside the history.
    QString openAttemptFile() const;

private:
    UpdateHistory historyFile;
    std::optional<UpdateHistoryEntry> pending;
};

} // namespace PelkPlus
