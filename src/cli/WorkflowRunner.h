#pragma once

#include "cli/CliOptions.h"
#include "cli/CliQuestions.h"
#include "device/Connection.h"
#include "update/ComponentType.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateOutcome.h"
#include "workflow/WorkflowPhase.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace PelkPlus {

class CliOutput;
class UpdateWorkflow;

// The check, update and install commands on the update workflow: picks the device, waits until
// it is ready, and then drives the workflow as the window's buttons would, writing what the
// window would show. Ends with finished() and the exit code.
class WorkflowRunner : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(WorkflowRunner)

public:
    // How long a connected device may take to answer with its header.
    static constexpr int connectTimeoutMs = 30000;
    // Not begun: the computer is on a low battery, and --yes with --ignore-power was not given.
    static constexpr int lowPowerExitCode = 4;
    // Nothing can be installed over USB, but the catalogue has an MCU update that this device's
    // firmware cannot take over USB.
    static constexpr int serviceUpdateExitCode = 5;
    static QString serviceUpdateText();
    // A second interruption within this time stops a transfer.
    static constexpr int confirmInterruptMs = 5000;

    WorkflowRunner(const CliOptions& options, CliOutput* output, QObject* parent = nullptr);
    ~WorkflowRunner() override;

    // A component the device came back with: its versions before and sent, as the user reads them.
    struct InstalledComponent
    {
        ComponentType type;
        QString before;
        QString sent;
        bool verified = false;
    };
    // The last line of an update that ended well: "Update complete: 2 components installed and
    // verified."
    static QString completionText(const QList<InstalledComponent>& components);

    void start();
    // Ctrl-C: during a transfer the first one warns and a second one soon after stops; at any
    // other time it stops at once.
    void interrupt();

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
    void onDownloadProgress(int percent);
    void onInstallProgress(int percent);
    // The whole update's line: the install bar with it while a file is sent, its own bar during
    // the waits, redrawn at every beat on a terminal.
    void onOverallProgress(const QString& text);
    // False, after saying why, when the computer's battery may not last the plan.
    bool powerAllowsUpdate();
    void runCommand();
    QString installLabel() const;
    void reportPlan();
    void askToConfirm();
    void onAnswer();
    void beginUpdate();
    void reportResult();
    void finish(int exitCode);

    CliOptions cliOptions;
    CliOutput* cliOutput;
    CliQuestions questions;
    UpdateWorkflow* workflow = nullptr;
    Phase runPhase = Scanning;
    Connection readyConnection;
    bool deviceActive = false;
    WorkflowPhase step = WorkflowPhase::NoDevice;
    // The components the device came back without, in the order they were sent.
    QList<ComponentType> notApplied;
    QList<InstalledComponent> installed;
    // The plan's entry being installed, by the workflow's component text.
    int componentIndex = 0;
    // A critical message of the update was printed; its end needs no words of its own.
    bool failureShown = false;
    QString downloadText;
    QString installText;
    QString overallText;
    int overallComponent = -1;
    int installPercent = 0;
    QSocketNotifier* input = nullptr;
    QByteArray answerLine;
    QTimer connectTimeout;
    QElapsedTimer sinceWarning;
};

} // namespace PelkPlus
