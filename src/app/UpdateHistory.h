#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class QJsonObject;

namespace PelkPlus {

// One attempt to install one component on one device.
struct UpdateHistoryEntry
{
    enum Outcome {
        Verified,
        NotApplied,
        DownloadFailed,
        InstallFailed,
        DeviceLost,
        Interrupted,
        // Sent and taken, but nothing says which version it was (a local file): not compared.
        Installed,
        // In progress when the updater stopped without a word (killed, a crash, a power loss):
        // found at the next start.
        FoundInterrupted,
        // Sent again from the kept files of an update that stopped, and taken.
        FinishedLater,
    };

    QDateTime time; // UTC
    QString model;
    QString serial;
    QString component;
    QString versionBefore;
    QString versionSent;
    QString source; // the catalogue URL or the local file's name
    QString sha256; // of the image, lower-case hex; empty when it was never read
    Outcome outcome = NotApplied;

    static QString outcomeText(Outcome outcome);
    QJsonObject toJson() const;
    // False when the object is not an entry this updater wrote.
    static bool fromJson(const QJsonObject& object, UpdateHistoryEntry* entry);
};

// The record of every install attempt, one JSON object per line in a file private to the user.
// Bounded to the most recent entries and replaced whole on every write, so a crash leaves either
// the old or the new file, never a torn one. A file that cannot be read as a history is set aside
// and a new one started: the updater never fails to start because of it.
class UpdateHistory
{
public:
    static constexpr int maximumEntries = 1000;

    // The history in the application's data location.
    UpdateHistory();
    explicit UpdateHistory(const QString& path);

    QString path() const { return filePath; }

    // Oldest first. A damaged file is renamed aside (with a log line) and reads as empty.
    QList<UpdateHistoryEntry> entries() const;
    // Appends and keeps the most recent maximumEntries; false, with a log line, when the file
    // cannot be written.
    bool append(const UpdateHistoryEntry& entry);

    static QString defaultPath();

private:
    QString filePath;
};

} // namespace PelkPlus
