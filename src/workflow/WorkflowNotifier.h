#pragma once

#include "update/ComponentType.h"
#include "workflow/InstallVerifier.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateOutcome.h"
#include "workflow/WorkflowPhase.h"

#include <QObject>
#include <QString>

namespace PelkPlus {

// What the update workflow tells its face: the states it enters, the texts and progress of the
// component being installed, messages to show and the newer updater it found. A face connects to
// these; the workflow's own argument-less step signals are those of UpdateWorkflow.
class WorkflowNotifier : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(WorkflowNotifier)

public:
    explicit WorkflowNotifier(QObject* parent = nullptr);
    ~WorkflowNotifier() override;

    // The line every face shows beside a plan from a catalogue no trusted key signed.
    static QString unverifiedCatalogueText();
    // The warning of sleepNotPrevented().
    static QString sleepWarningText();

signals:
    // Every state of the machine as it is entered, by object name ("downloadingState", ...); for
    // logs and tests. A face follows phaseChanged.
    void stateEntered(const QString& name);
    // The workflow entered a state that has a phase; phaseStatusText() gives its status text.
    void phaseChanged(PelkPlus::WorkflowPhase phase);
    // An update ended, once per update that began, with how it ended.
    void updateEnded(PelkPlus::UpdateOutcome outcome);
    // The plan, its warnings or the time of the check changed; read them from the workflow.
    void planChanged();
    // The component being installed: "Updating MCU Firmware (Component 1/2)".
    void componentTextChanged(const QString& text);
    void downloadTextChanged(const QString& text);
    void installTextChanged(const QString& text);
    // Percentages, 0 to 100.
    void downloadProgressChanged(int percent);
    void installProgressChanged(int percent);
    // What the user must know or do now while the update runs.
    void statusChanged(const QString& text, PelkPlus::MessageKind kind);
    // Nothing could keep the computer awake for the update that begins now; told before anything
    // is downloaded or sent, and the update goes on.
    void sleepNotPrevented(const QString& text);
    // A download of the check or of the update failed for a moment and is tried again.
    void retrying(const QString& text);
    // A message to show without waiting for it to be read; title may be empty.
    void messageRequested(PelkPlus::MessageKind kind, const QString& title, const QString& text);
    // A newer updater is available; answer with UpdateWorkflow::answerAppUpdate().
    void appUpdateOffered(const QString& version);
    // The bus has been polled; UpdateWorkflow::connections() lists what is on it.
    void devicesScanned();
    // A component was installed and the device is back: what it held before, what was sent, and
    // whether it now reports it; for a record of what was done to the device.
    void componentVerified(PelkPlus::ComponentType type, const QString& versionBefore,
        const QString& versionSent, PelkPlus::VerificationOutcome outcome);
    // The face asked for the planned update to start (see UpdateWorkflow::startUpdate()).
    void updateStartRequested();
};

} // namespace PelkPlus
