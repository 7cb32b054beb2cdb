#pragma once

#include "cli/CliOptions.h"
#include "cli/CliQuestions.h"
#include "cli/CliReport.h"
#include "device/Connection.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateOutcome.h"
#include "workflow/WorkflowPhase.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace PelkPlus {

class CliOutput;
class ConfirmationQuestion;
class ProgressLines;
class UpdateWorkflow;

// The check, update and install commands on the update workflow: picks the device, waits until
// it is ready, and then drives the workflow as the window's buttons would, writing what the
// window would show. Ends with finished() and the exit code. What it writes on the way is done by
// the classes it owns: the plan and the result (CliReport), the question before an update
// (ConfirmationQuestion) and the bars of a running update (ProgressLines).
class WorkflowRunner : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(WorkflowRunner)

public:
    // Not begun: the computer is on a low battery, and --yes with --ignore-power was not given.
    static constexpr int lowPowerExitCode = 4;
    // A second interruption within this time stops a transfer.
    static constexpr int confirmInterruptMs = 5000;

    WorkflowRunner(const CliOptions& options, CliOutput* output, QObject* parent = nullptr);
    ~WorkflowRunner() override;

    void start();
    // Ctrl-C: during a transfer the first one warns and a second one soon after stops; at any
    // other time it stops at once. SIGTERM and SIGHUP stop at once, after the current packet.
    void interrupt(int signalNumber);

signals:
    void finished(int exitCode);

private:
    enum Phase {
        Scanning,
        Connecting,
        Checking,
        Confirming,
        Updating,
        Done,
    };

    void onScanned();
    void onPhaseChanged(WorkflowPhase phase);
    void onUpdateEnded(UpdateOutcome outcome);
    void onIdle();
    void onMessage(MessageKind kind, const QString& title, const QString& text);
    // The check has made its plan: written, and then the command ends or the update is confirmed.
    void onPlanned();
    // False, after saying why, when the computer's battery may not last the plan.
    bool powerAllowsUpdate();
    void runCommand();
    // update on a device whose last update stopped: finishes it from the files it kept, or, when
    // they are gone or changed, checks for updates as usual.
    void finishStoppedUpdate();
    void askToConfirm();
    void onAnswer(bool yes);
    void beginUpdate();
    void finish(int exitCode);

    CliOptions cliOptions;
    CliOutput* cliOutput;
    CliQuestions questions;
    UpdateWorkflow* workflow;
    CliReport report;
    ProgressLines* progressLines = nullptr;
    ConfirmationQuestion* confirmation = nullptr;
    Phase runPhase = Scanning;
    Connection readyConnection;
    bool deviceActive = false;
    // update goes on with the device's stopped update rather than a check.
    bool finishing = false;
    // A critical message of the update was printed; its end needs no words of its own.
    bool failureShown = false;
    // What the workflow retried before the device was ready, told once it is.
    QStringList heldRetries;
    QTimer connectTimeout;
    QElapsedTimer sinceWarning;
};

} // namespace PelkPlus
