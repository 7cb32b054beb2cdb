#pragma once

#include "device/Connection.h"
#include "update/Component.h"
#include "update/ComponentType.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class QJsonObject;

namespace PelkPlus {

// The record of an update under way: the device, the plan with the digest of every file, the
// component in progress and its step. It is written before the first byte of each component goes to
// the device and at every step after, and removed only once the update ends with every component
// verified, so that an update stopped any other way (a crash, a power loss, the device lost, the
// window closed) can be told of and finished later. The plan's files are kept beside it, owner-only,
// for as long as it exists.
//
// Each write replaces the file whole (a temporary file, synced to disk, renamed over it), so a crash
// leaves the old or the new journal, never a torn one. What is read back is checked as hostile: a
// file that is too large, not private to the user, or not a journal this updater wrote is set aside
// with a log line and reads as none.
class UpdateJournal
{
public:
    enum class Step {
        // Every file of the plan is here; nothing of this component was sent yet.
        Downloaded,
        Sending,
        // The device took the file and is to restart with it.
        AwaitingReboot,
        // The device came back reporting the version sent.
        Done,
    };

    struct Entry
    {
        ComponentType type = ComponentType::McuFirmware;
        QString version;
        // The kept file's name in keptFilesDirectory().
        QString file;
        // SHA-256 of the kept file, 32 bytes.
        QByteArray sha256;
    };

    // Far above any journal of four components.
    static constexpr qint64 maximumFileSize = 64 * 1024;

    // The journal in the application's data location, and the folder of its kept files.
    static QString defaultPath();
    static QString keptFilesDirectory(const QString& journalPath = defaultPath());

    // The journal of an update of the plan on the device, with nothing sent yet. The path is the
    // device's USB port path where the HID backend tells it, else its node.
    static UpdateJournal forPlan(const Connection& device, const QList<Component>& plan);

    // Copies each file of the plan into the kept folder (owner-only), checked against the digest
    // its download verified (a file chosen on this computer against its own), and names each
    // copy in the journal. False, with the reason in error, when a file cannot be kept.
    bool keepFiles(const QList<Component>& plan, const QString& journalPath, QString* error);

    // Replaces the journal at path; false, with the reason in error, when it cannot be written.
    bool write(const QString& path, QString* error = nullptr) const;
    // The journal at path; none when there is none or it cannot be trusted (set aside).
    static std::optional<UpdateJournal> read(const QString& path = defaultPath());
    // Removes the journal and its kept files.
    static void remove(const QString& path = defaultPath());

    // Whether the journal is of this device: model and serial number, and for a device without a
    // serial number the USB port it was on (the node's path changes at every replug).
    bool isFor(const Connection& connection) const;
    // "The last update of this Pelk+ stopped during Styles on 8 December at 14:03." (local time).
    QString stoppedText() const;
    // "Finishing the update that stopped during Styles on 8 December at 14:03."
    QString finishingText() const;
    // The component in progress; null when the journal names none.
    const Entry* currentEntry() const;

    static const char* stepName(Step step);
    QJsonObject toJson() const;
    // False when the object is not a journal this updater wrote.
    static bool fromJson(const QJsonObject& object, UpdateJournal* journal);

    int model = 0;
    QString serial;
    QString path;
    QList<Entry> components;
    // Index into components.
    int current = 0;
    Step step = Step::Downloaded;
    // UTC, of the last step.
    QDateTime time;
};

} // namespace PelkPlus
