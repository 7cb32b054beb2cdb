// Carrying out an update, one component after the other.
#include "workflow/UpdateWorkflow.h"

#include "app/ApplicationPaths.h"
#include "app/SleepPreventer.h"
#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "update/DownloadAgent.h"
#include "update/DownloadRequest.h"

#include <QDebug>

#include <algorithm>

namespace PelkPlus {

namespace {

// How long a device may take to drop off the bus after it confirmed an install before the user is
// asked to power-cycle it. The Pelk+ has more to write to its flash before it restarts.
constexpr int baseRebootTimeout = 15000;
constexpr int plusRebootTimeout = 20000;

// A fraction of a transfer as a bar's percentage; a transfer is not shown as complete before it is.
int percentOf(float fraction)
{
    return int(fraction * 100);
}

} // namespace

void UpdateWorkflow::enableSleepPrevention()
{
    sleepPreventer->setPreventSleep(true);
    if (sleepPreventer->isPreventingSleep())
        qDebug() << "System sleep disabled.";
    else
        qCritical() << "Could not disable system sleep.";
}

void UpdateWorkflow::disableSleepPrevention()
{
    sleepPreventer->setPreventSleep(false);
    if (sleepPreventer->isPreventingSleep())
        qCritical() << "Could not re-enable system sleep.";
    else
        qDebug() << "System sleep re-enabled.";
}

Component* UpdateWorkflow::currentPlanEntry()
{
    if (currentComponent < 0 || currentComponent >= updatePlan.size())
        return nullptr;
    return &updatePlan[currentComponent];
}

void UpdateWorkflow::beginUpdate()
{
    currentComponent = -1;
    verificationDue = false;
    if (deviceAgent)
        updatingDevice = deviceAgent->connection();
}

bool UpdateWorkflow::verifyInstalledComponent()
{
    const Component* component = currentPlanEntry();
    if (!component)
        return true;
    const Verification check
        = InstallVerifier::verify(deviceBeforeInstall, deviceInfo(), component->type, component->version);
    emit componentVerified(component->type, versionBeforeInstall, component->version, check.outcome);
    closeAttempt(check.outcome == VerificationOutcome::Verified ? UpdateHistoryEntry::Verified
            : check.outcome == VerificationOutcome::NotApplied  ? UpdateHistoryEntry::NotApplied
                                                                : UpdateHistoryEntry::Installed);
    if (check.outcome == VerificationOutcome::Verified) {
        qDebug().noquote()
            << QStringLiteral("Verified: %1 %2.").arg(componentTypeName(component->type), component->version);
        return true;
    }
    if (check.outcome == VerificationOutcome::NotChecked)
        return true;

    const QString name = componentTypeName(component->type);
    qCritical().noquote() << QStringLiteral("Not applied: %1 %2; the device reports %3.")
                                 .arg(name, component->version, check.reported);
    showMessage(MessageKind::Warning, QStringLiteral("Update Not Applied"),
        QStringLiteral("The device did not take the %1 update.\n\nVersion sent: %2\nVersion the device "
                       "reports: %3")
            .arg(name, check.sent, check.reported));
    emit componentNotApplied();
    return false;
}

void UpdateWorkflow::selectNextComponent()
{
    // The device is back after the previous component: it must report what it was sent.
    if (verificationDue) {
        verificationDue = false;
        if (!verifyInstalledComponent())
            return;
    }

    // Nothing goes to the device until every file it is to receive has arrived and been verified:
    // an update that cannot be finished is not begun.
    if (currentComponent < 0
        && std::any_of(updatePlan.cbegin(), updatePlan.cend(),
            [](const Component& component) { return component.localPath.isEmpty(); })) {
        emit downloadsRequired();
        return;
    }

    ++currentComponent;
    if (unsigned(currentComponent) >= unsigned(updatePlan.size())) {
        updatePlan.clear();
        warnings.clear();
        currentComponent = -1;
        emit updateFinished();
        return;
    }

    const Component& component = updatePlan.at(currentComponent);
    emit componentTextChanged(QStringLiteral("Updating %1 (Component %2/%3)")
                                  .arg(componentTypeName(component.type))
                                  .arg(currentComponent + 1)
                                  .arg(updatePlan.size()));
    emit downloadProgressChanged(0);
    emit installProgressChanged(0);
    QString downloadText = QStringLiteral("Downloading");
    if (component.size > 0)
        downloadText += QStringLiteral(" (%1 KB)").arg(UpdatePlanner::kilobytesText(component.size));
    emit downloadTextChanged(downloadText);
    emit installTextChanged(QStringLiteral("Installing"));
    emit componentSelected();
}

void UpdateWorkflow::downloadComponent()
{
    Component* component = currentPlanEntry();
    if (!component)
        return;

    // A file chosen on this computer is sent as it is.
    if (!component->localPath.isEmpty()) {
        emit downloadProgressChanged(100);
        emit componentDownloadSkipped();
        return;
    }

    if (!ApplicationPaths::ensureDownloadDirectory()) {
        qCritical() << "MainWindow: Failed to create download directory.";
        emit downloadFailure();
        return;
    }
    component->localPath
        = ApplicationPaths::downloadDirectory() + QLatin1Char('/') + componentTypeName(component->type);
    // The size the HEAD request announced is enforced, so a truncated file never reaches the device.
    componentDownloadRunning = downloadAgent->download(DownloadRequest::forComponent(*component));
    if (!componentDownloadRunning) {
        qCritical() << "MainWindow: Failed to start component download.";
        emit downloadFailure();
    }
}

void UpdateWorkflow::downloadAllComponents()
{
    batchEntries.clear();
    batchFileShown = -1;
    if (!ApplicationPaths::ensureDownloadDirectory()) {
        qCritical() << "MainWindow: Failed to create download directory.";
        emit downloadFailure();
        return;
    }

    // Each entry has a file of its own, named after its type, so that two entries of one type
    // (a forced reinstall of a catalogue listing both) never overwrite each other.
    QList<DownloadRequest> requests;
    QStringList names;
    for (int index = 0; index < updatePlan.size(); ++index) {
        Component& component = updatePlan[index];
        if (!component.localPath.isEmpty())
            continue;
        QString name = componentTypeName(component.type);
        for (int n = 2; names.contains(name); ++n)
            name = QStringLiteral("%1 (%2)").arg(componentTypeName(component.type)).arg(n);
        names.append(name);
        component.localPath = ApplicationPaths::downloadDirectory() + QLatin1Char('/') + name;
        requests.append(DownloadRequest::forComponent(component));
        batchEntries.append(index);
    }

    // The component label stays for the components themselves; the status says what happens.
    emit statusChanged(
        QStringLiteral("Downloading and verifying %1 before anything is sent to the device...")
            .arg(requests.size() == 1 ? QStringLiteral("the update file")
                                      : QStringLiteral("%1 update files").arg(requests.size())),
        MessageKind::Information);
    emit downloadProgressChanged(0);
    emit installProgressChanged(0);
    emit installTextChanged(QStringLiteral("Installing"));
    componentDownloadRunning = downloadAgent->download(requests);
    if (!componentDownloadRunning) {
        qCritical() << "MainWindow: Failed to start component download.";
        emit downloadFailure();
    }
}

void UpdateWorkflow::abortComponentDownload()
{
    // A download left behind would finish into the file the next update sends.
    componentDownloadRunning = false;
    batchEntries.clear();
    downloadAgent->abort();
}

void UpdateWorkflow::onDownloadStarted(int request)
{
    // Before the first component: which of the files is arriving, and how large it is.
    if (request != batchFileShown && request >= 0 && request < batchEntries.size()
        && batchEntries.at(request) < updatePlan.size()) {
        batchFileShown = request;
        const Component& component = updatePlan.at(batchEntries.at(request));
        QString text = QStringLiteral("Downloading %1 (file %2 of %3)")
                           .arg(componentTypeName(component.type))
                           .arg(request + 1)
                           .arg(batchEntries.size());
        if (component.size > 0)
            text += QStringLiteral(", %1 KB").arg(UpdatePlanner::kilobytesText(component.size));
        emit downloadTextChanged(text);
        emit downloadProgressChanged(0);
    }
}

void UpdateWorkflow::onDownloadProgress(int request, float fraction)
{
    Q_UNUSED(request)
    emit downloadProgressChanged(percentOf(fraction));
}

void UpdateWorkflow::onComponentDownloaded(int request, const QByteArray& digest)
{
    Component* component = nullptr;
    if (state("downloadAllState")->active() && request >= 0 && request < batchEntries.size()
        && batchEntries.at(request) < updatePlan.size())
        component = &updatePlan[batchEntries.at(request)];
    else if (state("downloadingState")->active())
        component = currentPlanEntry();
    if (component)
        component->downloadedSha256 = digest;
}

void UpdateWorkflow::awaitUpdateMode()
{
    qDebug() << "Checking whether device ready for update...";
    emit statusChanged(phaseStatusText(WorkflowPhase::AwaitingUpdateMode), MessageKind::Warning);
    if (deviceAgent)
        deviceAgent->checkReadyForUpdate();
}

void UpdateWorkflow::onDownloadFinished()
{
    const Component* component = currentPlanEntry();
    if (!component)
        return;

    int fileType = -1;
    switch (component->type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware:
    case ComponentType::Styles:
    case ComponentType::EnsembleAudio:
        // The device's file types carry the numbers of the component types.
        fileType = int(component->type);
        break;
    default:
        qCritical() << "MainWindow::onDownloadFinished: Unexpected component type.";
        emit installFailure();
        return;
    }

    // Whatever made the plan, an MCU without the USB boot loader never receives firmware.
    if (component->type == ComponentType::McuFirmware && !UpdatePlanner::canUpdateMcuByUsb(deviceInfo())) {
        qCritical().noquote() << UpdatePlanner::mcuNotUpdatableWarning();
        emit installFailure();
        return;
    }

    versionBeforeInstall = InstallVerifier::versionOf(deviceInfo(), component->type);
    deviceBeforeInstall = deviceInfo();
    openAttempt = attemptFor(*component, true);
    // The file is read again for sending, long after its download was checked: whatever replaced
    // it since is not what the catalogue vouched for. A file chosen on this computer is sent as it is.
    if (!component->url.isEmpty()
        && (component->downloadedSha256.isEmpty()
            || QByteArray::fromHex(openAttempt->sha256.toLatin1()) != component->downloadedSha256)) {
        qCritical().noquote() << "UpdateWorkflow: The file changed after it was verified; nothing is sent:"
                              << component->localPath;
        installFailureDetail
            = QStringLiteral("The %1 file changed after it was verified, so nothing was sent "
                             "to the device. Check for updates again to download it anew.")
                  .arg(componentTypeName(component->type));
        emit installFailure();
        return;
    }
    qDebug() << "Sending file type" << fileType << "at" << component->localPath;
    if (deviceAgent)
        deviceAgent->sendFile(fileType, component->localPath);
}

void UpdateWorkflow::onInstallProgress(float fraction, long total)
{
    emit installProgressChanged(percentOf(fraction));
    if (total > 0)
        emit installTextChanged(
            QStringLiteral("Installing (%1 KB)").arg(UpdatePlanner::kilobytesText(total)));
}

void UpdateWorkflow::startRebootTimer()
{
    verificationDue = true;
    const bool base = deviceAgent && deviceAgent->connection().model == Base;
    rebootTimer.start(base ? baseRebootTimeout : plusRebootTimeout);
}

void UpdateWorkflow::requestPowerCycle()
{
    emit statusChanged(phaseStatusText(WorkflowPhase::AwaitingPowerCycle), MessageKind::Warning);
}

} // namespace PelkPlus
