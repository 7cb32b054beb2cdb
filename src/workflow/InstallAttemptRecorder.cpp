#include "workflow/InstallAttemptRecorder.h"

#include "device/DeviceModel.h"
#include "update/DownloadReplies.h"
#include "update/Sha256.h"
#include "workflow/VersionText.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace PelkPlus {

QString InstallAttemptRecorder::fileDigest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Sha256 hash;
    while (!file.atEnd()) {
        const QByteArray block = file.read(1024 * 1024);
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return QString();
        hash.addData(block);
    }
    return QString::fromLatin1(hash.result().toHex());
}

UpdateHistoryEntry InstallAttemptRecorder::attemptFor(const Component& component,
    const std::optional<Connection>& device, const DeviceInfo& info, bool hashFile)
{
    UpdateHistoryEntry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    if (device) {
        entry.model = QLatin1String(modelName(device->model));
        entry.serial = device->serialNumber;
    }
    entry.component = componentTypeName(component.type);
    entry.versionBefore = VersionText::ofDevice(info, component.type);
    entry.versionSent = component.version;
    entry.source = component.url.isEmpty() ? QFileInfo(component.localPath).fileName()
                                           : DownloadReplies::displayUrl(component.url);
    if (hashFile)
        entry.sha256 = fileDigest(component.localPath);
    return entry;
}

QString InstallAttemptRecorder::openAttemptFile() const
{
    return historyFile.path() + QStringLiteral(".open");
}

void InstallAttemptRecorder::open(const UpdateHistoryEntry& entry)
{
    pending = entry;
    const QString path = openAttemptFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact));
        if (file.commit())
            return;
    }
    qCritical().noquote() << "UpdateWorkflow: The attempt under way cannot be noted in" << path
                          << file.errorString();
}

bool InstallAttemptRecorder::recordLeftOpen()
{
    QFile file(openAttemptFile());
    if (!file.exists())
        return false;
    // Far larger than any entry; anything else is not one this updater wrote.
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
    file.close();
    file.remove();
    UpdateHistoryEntry entry;
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject() || !UpdateHistoryEntry::fromJson(document.object(), &entry)) {
        qCritical() << "UpdateWorkflow: An unreadable note of an attempt under way was removed.";
        return false;
    }
    qDebug() << "UpdateWorkflow: The last run stopped during an install it could not record.";
    record(entry, UpdateHistoryEntry::FoundInterrupted);
    return true;
}

void InstallAttemptRecorder::record(UpdateHistoryEntry entry, UpdateHistoryEntry::Outcome outcome)
{
    entry.outcome = outcome;
    qDebug().noquote() << "UpdateWorkflow: History:" << entry.component << entry.versionSent
                       << UpdateHistoryEntry::outcomeText(outcome);
    historyFile.append(entry);
    // Whatever an attempt set aside for later is now recorded (a failed transfer waits for its
    // cause with the note kept).
    if (!pending)
        QFile::remove(openAttemptFile());
}

void InstallAttemptRecorder::close(UpdateHistoryEntry::Outcome outcome)
{
    if (!pending)
        return;
    const UpdateHistoryEntry entry = *pending;
    pending.reset();
    record(entry, outcome);
}

} // namespace PelkPlus
