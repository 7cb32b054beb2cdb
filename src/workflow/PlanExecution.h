#pragma once

#include "app/UpdateHistory.h"
#include "device/DeviceInfo.h"
#include "update/ComponentType.h"
#include "workflow/InstallSummary.h"
#include "workflow/InstallVerifier.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateFailure.h"
#include "workflow/UpdateJournal.h"
#include "workflow/UpdateOutcome.h"
#include "workflow/WorkflowPhase.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace PelkPlus {

class DeviceSelection;
class InstallAttemptRecorder;
class SleepPreventer;
class WorkflowPlan;
struct Component;

// Carrying out an update, one component after the other: the next component, the wait for the
// device's update mode, sending the file, the wait for the device to restart with it, and the
// check of what it reports afterwards. The computer is kept awake while it runs. Each step, and what
// is to be told of it, comes through its own signals.
class PlanExecution : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(PlanExecution)

public:
    // A transfer whose write or read failed may have lost its device, which the monitor sees gone
    // only at its next poll (once a second): the attempt is recorded as lost when the device is
    // seen gone within this time, and as failed otherwise.
    static constexpr int lostDeviceGraceMs = 2500;

    PlanExecution(WorkflowPlan& plan, DeviceSelection& selection, InstallAttemptRecorder& recorder,
        QObject* parent = nullptr);
    ~PlanExecution() override;

    // The workflow takes ownership.
    void setSleepPreventer(SleepPreventer* preventer);
    void enableSleepPrevention();
    void disableSleepPrevention();

    // The next update finishes the journal's update from its kept files: it goes on writing that
    // journal, its first component being the journal's entry at firstEntry.
    void resumeJournal(const UpdateJournal& stopped, int firstEntry);
    void begin();
    // Leaves the update, with the attempt whose file was sent and whose outcome is unknown closed
    // as lost.
    void end(bool awaitingReboot);
    void selectNextComponent();
    void awaitUpdateMode();
    // Sends the current component's file, once more checked against what its download verified.
    void sendCurrent();
    // The install failed or was refused: recorded, and told with its reason.
    void tellInstallFailure();
    void startRebootTimer();
    void requestPowerCycle();
    QTimer* rebootTimer() { return &rebootTimeout; }
    // What the last update did to the device, for the sentence the faces say when it ends.
    const InstallSummary& summary() const { return installSummary; }
    // A transfer failed and whether the device went away with it is not known yet: the end of the
    // update waits for failureSettled.
    bool isSettlingFailure() const { return failedTransfer.has_value(); }
    // Where the journal of the update is kept; tests point it elsewhere before an update.
    QString journalFile() const { return journalPath; }
    void setJournalFile(const QString& path) { journalPath = path; }

    // The workflow's phase as it changes: a transfer whose device is gone has failed with it.
    void phaseEntered(WorkflowPhase phase);
    // How the update ended: only one with every component on the device needs no finishing later.
    void updateEnded(UpdateOutcome outcome);

signals:
    // The cause of a failed transfer is known (and told); the end of the update may be reported.
    void failureSettled();
    // The steps of the update: the next component is chosen, files are still to be downloaded,
    // every component is installed, the device did not take one, the file was refused or could not
    // be sent, the device had its time to restart.
    void componentSelected();
    void downloadsRequired();
    void updateFinished();
    void componentNotApplied();
    void installFailure();
    void deviceReadyToReboot();
    // A component was installed and the device is back: what it held before, what was sent, and
    // whether it now reports it.
    void componentVerified(PelkPlus::ComponentType type, const QString& versionBefore,
        const QString& versionSent, PelkPlus::VerificationOutcome outcome);
    void componentTextChanged(const QString& text);
    void downloadTextChanged(const QString& text);
    void installTextChanged(const QString& text);
    void downloadProgressChanged(int percent);
    void installProgressChanged(int percent);
    void statusChanged(const QString& text, PelkPlus::MessageKind kind);
    void sleepNotPrevented(const QString& text);
    void failureNoted(PelkPlus::UpdateFailure failure);
    void messageRequested(PelkPlus::MessageKind kind, const QString& title, const QString& text);

private:
    // After a component's reboot: false, after stopping the update, when the device did not take it.
    bool verifyInstalledComponent();
    void onInstallProgress(float fraction, long total);
    UpdateHistoryEntry attemptFor(const Component& component, bool hashFile) const;
    // Records the attempt whose transfer failed, if one waits, with the outcome now known; and,
    // when told, says why the update failed.
    void settleFailedTransfer(UpdateHistoryEntry::Outcome outcome, bool tell = false);
    void tellTransferFailure(UpdateFailure failure);
    // Writes the journal with the current component at the step, keeping the plan's files first
    // when the update has none yet; false, with the reason logged, when it cannot be written.
    bool noteStep(UpdateJournal::Step step);

    WorkflowPlan& plan;
    DeviceSelection& selection;
    InstallAttemptRecorder& recorder;
    std::unique_ptr<SleepPreventer> sleepPreventer;
    QTimer rebootTimeout;
    std::optional<UpdateHistoryEntry> failedTransfer;
    QString journalPath = UpdateJournal::defaultPath();
    // The journal of the update under way; none before its first component.
    std::optional<UpdateJournal> journal;
    // The journal the next update finishes, and the entry of its first component.
    std::optional<UpdateJournal> journalToResume;
    int resumedFrom = 0;
    // The update under way finishes a journal's: its plan's entries are the journal's from
    // journalOffset on.
    bool finishing = false;
    int journalOffset = 0;
    QTimer failedTransferGrace;
    // A component was sent and the device confirmed it; checked when the device is back.
    bool verificationDue = false;
    QString versionBeforeInstall;
    DeviceInfo deviceBeforeInstall;
    InstallSummary installSummary;
    // Every component of the plan was installed: nothing is left to plan when the device returns.
    bool finishedAll = false;
    // Why the install just refused failed, for its message; empty for the usual text alone.
    QString installFailureDetail;
};

} // namespace PelkPlus
