#include "workflow/PlanExecution.h"

#include "app/SleepPreventer.h"
#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "device/DeviceProtocol.h"
#include "update/ComponentType.h"
#include "update/Sha256.h"
#include "workflow/DeviceSelection.h"
#include "workflow/InstallAttemptRecorder.h"
#include "workflow/InstallVerifier.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/VersionText.h"
#include "workflow/WorkflowNotifier.h"
#include "workflow/WorkflowPlan.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace PelkPlus {

PlanExecution::PlanExecution(WorkflowPlan& workflowPlan, DeviceSelection& deviceSelection,
    InstallAttemptRecorder& attempts, QObject* parent)
    : QObject(parent)
    , plan(workflowPlan)
    , selection(deviceSelection)
    , recorder(attempts)
    , sleepPreventer(SleepPreventer::createForPlatform())
{
    rebootTimeout.setSingleShot(true);
    connect(&rebootTimeout, &QTimer::timeout, this, &PlanExecution::deviceReadyToReboot);
    connect(&selection, &DeviceSelection::installProgress, this, &PlanExecution::onInstallProgress);
    failedTransferGrace.setSingleShot(true);
    failedTransferGrace.setInterval(lostDeviceGraceMs);
    connect(&failedTransferGrace, &QTimer::timeout, this,
        [this] { settleFailedTransfer(UpdateHistoryEntry::InstallFailed, true); });
}

void PlanExecution::phaseEntered(WorkflowPhase phase)
{
    if (phase == WorkflowPhase::NoDevice)
        settleFailedTransfer(UpdateHistoryEntry::DeviceLost, true);
}

void PlanExecution::updateEnded(UpdateOutcome outcome)
{
    if (outcome != UpdateOutcome::Done || !journal)
        return;
    journal.reset();
    UpdateJournal::remove(journalPath);
    qDebug() << "UpdateWorkflow: Update journal removed.";
}

// Withdraws a request to stay awake that an update left behind (through the preventer's own
// destructor), and records a failed transfer whose cause was still open as failed.
PlanExecution::~PlanExecution()
{
    settleFailedTransfer(UpdateHistoryEntry::InstallFailed);
}

void PlanExecution::setSleepPreventer(SleepPreventer* preventer)
{
    if (preventer != sleepPreventer.get())
        sleepPreventer.reset(preventer);
}

void PlanExecution::enableSleepPrevention()
{
    sleepPreventer->setPreventSleep(true);
    if (sleepPreventer->isPreventingSleep()) {
        qDebug() << "System sleep disabled.";
        return;
    }
    qCritical() << "Could not disable system sleep.";
    // A computer that suspends half way through a transfer can leave the device unusable: the one
    // at it must know before anything is sent.
    emit sleepNotPrevented(WorkflowNotifier::sleepWarningText());
}

void PlanExecution::disableSleepPrevention()
{
    sleepPreventer->setPreventSleep(false);
    if (sleepPreventer->isPreventingSleep())
        qCritical() << "Could not re-enable system sleep.";
    else
        qDebug() << "System sleep re-enabled.";
}

namespace {

// The whole file, bounded as a download is: no image of the family comes near the bound.
// At most the largest file of the type: what is read here is held in memory until it is sent.
QByteArray readWholeFile(const QString& path, ComponentType type, bool* ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly) && file.size() <= largestComponentSize(type);
    if (!*ok)
        return QByteArray();
    const QByteArray bytes = file.readAll();
    *ok = file.error() == QFileDevice::NoError;
    return bytes;
}

} // namespace

UpdateHistoryEntry PlanExecution::attemptFor(const Component& component, bool hashFile) const
{
    return InstallAttemptRecorder::attemptFor(
        component, selection.deviceWorkedOn(), selection.deviceInfo(), hashFile);
}

void PlanExecution::resumeJournal(const UpdateJournal& stopped, int firstEntry)
{
    journalToResume = stopped;
    resumedFrom = firstEntry;
}

void PlanExecution::begin()
{
    settleFailedTransfer(UpdateHistoryEntry::InstallFailed);
    plan.rewind();
    verificationDue = false;
    finishedAll = false;
    QList<ComponentType> planned;
    for (const Component& component : plan.components())
        planned.append(component.type);
    installSummary.begin(planned);
    emit failureNoted(UpdateFailure::None);
    journal = std::exchange(journalToResume, std::nullopt);
    finishing = journal.has_value();
    journalOffset = finishing ? std::exchange(resumedFrom, 0) : 0;
    selection.holdUpdatingDevice();
}

void PlanExecution::end(bool awaitingReboot)
{
    // Left with a file sent and its outcome unknown: the device went away or another came.
    recorder.close(UpdateHistoryEntry::DeviceLost);
    // An update that did not install everything is planned again when its device is back.
    selection.releaseUpdatingDevice(awaitingReboot || !finishedAll);
    verificationDue = false;
}

bool PlanExecution::verifyInstalledComponent()
{
    const Component* component = plan.currentEntry();
    if (!component)
        return true;
    const Verification check = InstallVerifier::verify(
        deviceBeforeInstall, selection.deviceInfo(), component->type, component->version);
    emit componentVerified(component->type, versionBeforeInstall, component->version, check.outcome);
    if (check.outcome == VerificationOutcome::NotApplied)
        installSummary.addNotApplied(component->type);
    else
        installSummary.add({ component->type, versionBeforeInstall, component->version,
            check.outcome == VerificationOutcome::Verified,
            VersionText::ofDevice(selection.deviceInfo(), component->type) });
    const UpdateHistoryEntry::Outcome taken = finishing  ? UpdateHistoryEntry::FinishedLater
        : check.outcome == VerificationOutcome::Verified ? UpdateHistoryEntry::Verified
                                                         : UpdateHistoryEntry::Installed;
    recorder.close(check.outcome == VerificationOutcome::NotApplied ? UpdateHistoryEntry::NotApplied : taken);
    if (check.outcome != VerificationOutcome::NotApplied)
        noteStep(UpdateJournal::Step::Done);
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
    emit failureNoted(UpdateFailure::NotApplied);
    emit messageRequested(MessageKind::Warning, QStringLiteral("Update Not Applied"),
        QStringLiteral("The device did not take the %1 update.\n\nVersion sent: %2\nVersion the device "
                       "reports: %3\n\n%4")
            .arg(name, check.sent, check.reported, updateFailureNextStep(UpdateFailure::NotApplied)));
    emit componentNotApplied();
    return false;
}

void PlanExecution::selectNextComponent()
{
    // The device is back after the previous component: it must report what it was sent.
    if (verificationDue) {
        verificationDue = false;
        if (!verifyInstalledComponent())
            return;
    }

    // Nothing goes to the device until every file it is to receive has arrived and been verified:
    // an update that cannot be finished is not begun.
    const QList<Component>& components = plan.components();
    if (plan.currentIndex() < 0
        && std::any_of(components.cbegin(), components.cend(),
            [](const Component& component) { return component.localPath.isEmpty(); })) {
        emit downloadsRequired();
        return;
    }

    if (!plan.advance()) {
        finishedAll = true;
        emit updateFinished();
        return;
    }

    const Component& component = *plan.currentEntry();
    emit componentTextChanged(QStringLiteral("Updating %1 (Component %2/%3)")
                                  .arg(componentTypeName(component.type))
                                  .arg(plan.currentIndex() + 1)
                                  .arg(components.size()));
    emit downloadProgressChanged(0);
    emit installProgressChanged(0);
    QString downloadText = QStringLiteral("Downloading");
    if (component.size > 0)
        downloadText += QStringLiteral(" (%1 KB)").arg(UpdatePlanner::kilobytesText(component.size));
    emit downloadTextChanged(downloadText);
    emit installTextChanged(QStringLiteral("Installing"));
    emit componentSelected();
}

void PlanExecution::awaitUpdateMode()
{
    qDebug() << "Checking whether device ready for update...";
    // Told again before the first byte is sent, and refused then if it cannot be written.
    noteStep(UpdateJournal::Step::Downloaded);
    emit statusChanged(phaseStatusText(WorkflowPhase::AwaitingUpdateMode), MessageKind::Warning);
    if (selection.agent())
        selection.agent()->checkReadyForUpdate();
}

void PlanExecution::sendCurrent()
{
    const Component* component = plan.currentEntry();
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
        installFailureDetail
            = QStringLiteral("%1 is not a component the device can take, so nothing was sent to it.")
                  .arg(componentTypeName(component->type));
        emit installFailure();
        return;
    }

    const DeviceInfo info = selection.deviceInfo();
    // Whatever made the plan, an MCU without the USB boot loader never receives firmware.
    if (component->type == ComponentType::McuFirmware && !UpdatePlanner::canUpdateMcuByUsb(info)) {
        qCritical().noquote() << UpdatePlanner::mcuNotUpdatableWarning();
        installFailureDetail = UpdatePlanner::mcuNotUpdatableWarning();
        emit installFailure();
        return;
    }

    versionBeforeInstall = VersionText::ofDevice(info, component->type);
    deviceBeforeInstall = info;
    // The file is read once, long after its download (or the kept file, when an update is finished
    // later) was checked: the bytes whose digest is compared with the download's and written in the
    // history are the very bytes sent, so whatever replaced the file since is never what reaches the
    // device. A file chosen on this computer must still hold what it held when it was chosen.
    bool read = false;
    const QByteArray contents = readWholeFile(component->localPath, component->type, &read);
    Sha256 hash;
    hash.addData(contents);
    const QByteArray digest = read ? hash.result() : QByteArray();
    UpdateHistoryEntry attempt = attemptFor(*component, false);
    attempt.sha256 = QString::fromLatin1(digest.toHex());
    recorder.open(attempt);
    if (!read) {
        qCritical().noquote() << "UpdateWorkflow: The file cannot be read; nothing is sent:"
                              << component->localPath;
        installFailureDetail
            = QStringLiteral("The %1 file cannot be read, so nothing was sent to the device.")
                  .arg(componentTypeName(component->type));
        emit installFailure();
        return;
    }
    if ((!component->url.isEmpty() && component->downloadedSha256.isEmpty())
        || (!component->downloadedSha256.isEmpty() && digest != component->downloadedSha256)) {
        qCritical().noquote() << "UpdateWorkflow: The file changed after it was verified; nothing is sent:"
                              << component->localPath;
        installFailureDetail = component->url.isEmpty() && !finishing
            ? QStringLiteral("The %1 file changed after it was chosen, so nothing was sent to the device. "
                             "Choose it again to install what it holds now.")
                  .arg(componentTypeName(component->type))
            : QStringLiteral("The %1 file changed after it was verified, so nothing was sent "
                             "to the device. Check for updates again to download it anew.")
                  .arg(componentTypeName(component->type));
        emit installFailure();
        return;
    }
    // Nothing is sent that the journal does not name: an update stopped from here on can be told of
    // and finished later from the files it keeps.
    if (!noteStep(UpdateJournal::Step::Sending)) {
        installFailureDetail = QStringLiteral(
            "The update journal could not be written in %1, so nothing was sent to the device. Free "
            "some space there and try again.")
                                   .arg(QDir::toNativeSeparators(QFileInfo(journalPath).absolutePath()));
        emit installFailure();
        return;
    }
    qDebug() << "Sending file type" << fileType << "at" << component->localPath;
    if (selection.agent())
        selection.agent()->sendBytes(fileType, contents, component->localPath);
}

void PlanExecution::tellInstallFailure()
{
    const LinkResult result = selection.lastFailure();
    if (recorder.openAttempt() && (result == LinkWriteFailed || result == LinkReadFailed)) {
        // Told once the cause is known: a device pulled out mid-stream reads as a failed write
        // until the monitor sees it gone.
        failedTransfer = recorder.openAttempt();
        recorder.discardOpen();
        emit failureNoted(UpdateFailure::Install);
        failedTransferGrace.start();
        return;
    }
    if (recorder.openAttempt()) {
        recorder.close(UpdateHistoryEntry::InstallFailed);
    } else if (const Component* refused = plan.currentEntry()) {
        recorder.record(attemptFor(*refused, false), UpdateHistoryEntry::InstallFailed);
    }
    tellTransferFailure(UpdateFailure::Install);
}

void PlanExecution::tellTransferFailure(UpdateFailure failure)
{
    emit failureNoted(failure);
    // The title and first sentence are the ones the window has always shown; the cause and what to
    // do follow them.
    const QString detail = std::exchange(installFailureDetail, QString());
    emit messageRequested(MessageKind::Critical, QStringLiteral("Update Failure"),
        QStringLiteral("The update could not be completed.\n\n")
            + (detail.isEmpty() ? updateFailureText(failure) : detail));
}

// A fraction of a transfer as a bar's percentage; a transfer is not shown as complete before it is.
void PlanExecution::onInstallProgress(float fraction, long total)
{
    emit installProgressChanged(int(fraction * 100));
    if (total <= 0)
        return;
    QString text = QStringLiteral("Installing (%1 KB)").arg(UpdatePlanner::kilobytesText(total));
    // DSP firmware is downloaded as a text file and sent as the bytes that text spells, about a
    // fifth of its size: the label names the file it comes from, so that the smaller number shown
    // after "Downloading (40 KB)" does not look like a file cut short.
    const Component* component = plan.currentEntry();
    if (component && component->type == ComponentType::DspFirmware && component->size > 0)
        text = QStringLiteral("Installing (%1 KB, from the %2 KB file)")
                   .arg(UpdatePlanner::kilobytesText(total), UpdatePlanner::kilobytesText(component->size));
    emit installTextChanged(text);
}

void PlanExecution::settleFailedTransfer(UpdateHistoryEntry::Outcome outcome, bool tell)
{
    failedTransferGrace.stop();
    if (!failedTransfer)
        return;
    recorder.record(*std::exchange(failedTransfer, std::nullopt), outcome);
    if (!tell)
        return;
    tellTransferFailure(
        outcome == UpdateHistoryEntry::DeviceLost ? UpdateFailure::DeviceLost : UpdateFailure::Install);
    emit failureSettled();
}

bool PlanExecution::noteStep(UpdateJournal::Step step)
{
    if (!journal) {
        const std::optional<Connection> device = selection.deviceWorkedOn();
        if (!device)
            return false;
        UpdateJournal begun = UpdateJournal::forPlan(*device, plan.components());
        QString error;
        if (!begun.keepFiles(plan.components(), journalPath, &error)) {
            qCritical().noquote() << "UpdateWorkflow: The update's files cannot be kept:" << error;
            return false;
        }
        journal = begun;
    }
    journal->current = journalOffset + plan.currentIndex();
    journal->step = step;
    journal->time = QDateTime::currentDateTimeUtc();
    return journal->write(journalPath);
}

void PlanExecution::startRebootTimer()
{
    verificationDue = true;
    noteStep(UpdateJournal::Step::AwaitingReboot);
    const bool base = selection.agent() && selection.agent()->connection().model == Base;
    rebootTimeout.start(DeviceProtocol::rebootTimeout(base));
}

void PlanExecution::requestPowerCycle()
{
    emit statusChanged(phaseStatusText(WorkflowPhase::AwaitingPowerCycle), MessageKind::Warning);
}

} // namespace PelkPlus
