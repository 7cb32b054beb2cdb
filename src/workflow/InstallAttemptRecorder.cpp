#include "workflow/InstallAttemptRecorder.h"

#include "device/DeviceModel.h"
#include "update/DownloadReplies.h"
#include "update/Sha256.h"
#include "workflow/VersionText.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

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

void InstallAttemptRecorder::record(UpdateHistoryEntry entry, UpdateHistoryEntry::Outcome outcome)
{
    entry.outcome = outcome;
    qDebug().noquote() << "UpdateWorkflow: History:" << entry.component << entry.versionSent
                       << UpdateHistoryEntry::outcomeText(outcome);
    historyFile.append(entry);
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
