// The update history: one record per attempt to install a component, kept whatever its outcome.
#include "workflow/UpdateWorkflow.h"

#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "update/DownloadAgent.h"
#include "update/Sha256.h"
#include "workflow/WorkflowStates.h"

#include <QFile>
#include <QFileInfo>
#include <QState>

namespace PelkPlus {

namespace {

// The lower-case hex SHA-256 of a file; empty when it cannot be read.
QString fileDigest(const QString& path)
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

} // namespace

UpdateHistoryEntry UpdateWorkflow::attemptFor(const Component& component, bool hashFile) const
{
    UpdateHistoryEntry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    const std::optional<Connection> device = updatingDevice
        ? updatingDevice
        : (deviceAgent ? std::optional<Connection>(deviceAgent->connection()) : std::nullopt);
    if (device) {
        entry.model = QLatin1String(modelName(device->model));
        entry.serial = device->serialNumber;
    }
    entry.component = componentTypeName(component.type);
    entry.versionBefore = InstallVerifier::versionOf(deviceInfo(), component.type);
    entry.versionSent = component.version;
    entry.source = component.url.isEmpty() ? QFileInfo(component.localPath).fileName()
                                           : DownloadAgent::displayUrl(component.url);
    if (hashFile)
        entry.sha256 = fileDigest(component.localPath);
    return entry;
}

void UpdateWorkflow::recordAttempt(UpdateHistoryEntry entry, UpdateHistoryEntry::Outcome outcome)
{
    entry.outcome = outcome;
    qDebug().noquote() << "UpdateWorkflow: History:" << entry.component << entry.versionSent
                       << UpdateHistoryEntry::outcomeText(outcome);
    m_history.append(entry);
}

void UpdateWorkflow::closeAttempt(UpdateHistoryEntry::Outcome outcome)
{
    if (!openAttempt)
        return;
    const UpdateHistoryEntry entry = *openAttempt;
    openAttempt.reset();
    recordAttempt(entry, outcome);
}

// The component whose file could not be fetched: the batch's failed request, or the component of
// the download step.
void UpdateWorkflow::recordDownloadFailure()
{
    const Component* failed = nullptr;
    const int request = downloadAgent->currentRequest();
    if (state(WorkflowStates::downloadAllState)->active() && request >= 0 && request < batchEntries.size()
        && batchEntries.at(request) < updatePlan.size())
        failed = &updatePlan.at(batchEntries.at(request));
    else if (state(WorkflowStates::downloadingState)->active())
        failed = currentPlanEntry();
    if (failed)
        recordAttempt(attemptFor(*failed, false), UpdateHistoryEntry::DownloadFailed);
}

} // namespace PelkPlus
