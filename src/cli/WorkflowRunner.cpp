#include "cli/WorkflowRunner.h"

#include "cli/CliOutput.h"
#include "cli/ConfirmationQuestion.h"
#include "cli/DeviceReport.h"
#include "cli/ProgressLines.h"
#include "device/LinkResult.h"
#include "workflow/ComponentFileName.h"
#include "workflow/DeviceChoice.h"
#include "workflow/DeviceSelection.h"
#include "workflow/InstallSummary.h"
#include "workflow/PowerCheck.h"
#include "workflow/UpdateJournal.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowNotifier.h"

#include <QFileInfo>

#include <csignal>

#include <optional>
#include <utility>

namespace PelkPlus {

namespace {

// The phases whose status the command line prints as it enters them, by the first paragraph of the
// text the window shows; the other phases' texts come as status messages or are made of progress.
bool printsOnEntry(WorkflowPhase phase)
{
    return phase == WorkflowPhase::Updating || phase == WorkflowPhase::Installing
        || phase == WorkflowPhase::AwaitingFinish || phase == WorkflowPhase::AwaitingReboot;
}

} // namespace

WorkflowRunner::WorkflowRunner(const CliOptions& options, CliOutput* output, QObject* parent)
    : QObject(parent)
    , cliOptions(options)
    , cliOutput(output)
    , questions(output)
    , workflow(new UpdateWorkflow(this))
    , report(options.command, output, workflow)
{
    workflow->setQuestions(&questions);
    questions.setConfirmed(options.yes && options.ignorePower);
    workflow->setUnsignedCatalogueAllowed(options.allowUnsigned);
    // The command line installs device components only; it never offers a newer updater.
    workflow->setAppPackageType(std::nullopt);
    workflow->setPreferredSerial(options.serial);

    connect(workflow, &WorkflowNotifier::devicesScanned, this, &WorkflowRunner::onScanned);
    connect(workflow, &WorkflowNotifier::phaseChanged, this, &WorkflowRunner::onPhaseChanged);
    connect(workflow, &WorkflowNotifier::updateEnded, this, &WorkflowRunner::onUpdateEnded);
    connect(workflow, &WorkflowNotifier::messageRequested, this, &WorkflowRunner::onMessage);
    progressLines = new ProgressLines(workflow, output, options.command != CliOptions::Install, this);
    // A retry's pause is counted down every second, for a face that redraws its line; here each
    // retry is one line, as it is scheduled: the count and "now" that follow it are left out. The
    // start-up check may try again before the device is ready: said after the device.
    connect(workflow, &WorkflowNotifier::retrying, this,
        [this, counting = QString()](const QString& text) mutable {
            const QString retry = text.section(QStringLiteral(" Trying again "), 0, 0)
                + text.section(QStringLiteral(" (retry "), -1);
            if (text.contains(QLatin1String(" Trying again now "))) {
                counting.clear();
                return;
            }
            if (retry == std::exchange(counting, retry))
                return;
            if (runPhase == Scanning || runPhase == Connecting)
                heldRetries.append(text);
            else
                cliOutput->info(text);
        });
    connect(workflow, &WorkflowNotifier::statusChanged, this, [this](const QString& text, MessageKind) {
        cliOutput->info(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char('\n')));
    });
    // Said even with --quiet: the one at the computer is the only one who can keep it awake now.
    connect(workflow, &WorkflowNotifier::sleepNotPrevented, this, [this](const QString& text) {
        cliOutput->warning(text);
        cliOutput->member(QStringLiteral("sleepWarning"), text);
    });
    confirmation = new ConfirmationQuestion(output, this);
    connect(confirmation, &ConfirmationQuestion::answered, this, &WorkflowRunner::onAnswer);

    connectTimeout.setSingleShot(true);
    connect(&connectTimeout, &QTimer::timeout, this, [this] {
        cliOutput->error(QStringLiteral("The device did not answer."), QStringLiteral("connection"));
        finish(1);
    });
}

WorkflowRunner::~WorkflowRunner()
{
    // Goes first, while the questions it may still ask are alive.
    delete workflow;
}

void WorkflowRunner::start()
{
    if (cliOptions.command == CliOptions::Install && !QFileInfo(cliOptions.file).isFile()) {
        cliOutput->error(QStringLiteral("No such file: %1").arg(cliOptions.file), QStringLiteral("file"));
        finish(2);
        return;
    }
    // Refused before the device is even opened, with the name the file should have.
    if (cliOptions.command == CliOptions::Install
        && !ComponentFileName::fits(cliOptions.type, cliOptions.file)) {
        cliOutput->error(QStringLiteral("Invalid File: ") + ComponentFileName::refusalText(cliOptions.type),
            QStringLiteral("file"));
        finish(2);
        return;
    }
    // Opened before the workflow starts, so that not even its start-up check goes to the network.
    QString error;
    if (!cliOptions.bundle.isEmpty() && !workflow->useBundle(cliOptions.bundle, &error)) {
        cliOutput->error(
            error + QStringLiteral(" Nothing was sent to the device."), QStringLiteral("bundle"));
        finish(1);
        return;
    }
    workflow->start();
}

void WorkflowRunner::onScanned()
{
    if (runPhase != Scanning)
        return;

    const QList<Connection> all = DeviceChoice::devices(workflow->connections());
    const QList<Connection> matching = DeviceSelection::preferredAmong(all, cliOptions.serial);

    if (all.isEmpty()) {
        cliOutput->error(QStringLiteral("No device connected."), QStringLiteral("no-device"));
        finish(2);
        return;
    }
    if (matching.size() != 1) {
        QString text = matching.isEmpty()
            ? QStringLiteral("No device with serial number %1 is connected. Connected:")
                  .arg(cliOptions.serial)
            : QStringLiteral("%1 devices are connected; choose one with --device SERIAL:")
                  .arg(matching.size());
        for (const Connection& connection : all)
            text += QStringLiteral("\n  ") + DeviceReport::connectionText(connection);
        cliOutput->error(text, matching.isEmpty() ? QStringLiteral("no-device") : QStringLiteral("usage"));
        finish(2);
        return;
    }

    readyConnection = matching.first();
    runPhase = Connecting;
    connectTimeout.start(workflow->deviceAnswerLimit());
}

void WorkflowRunner::onPhaseChanged(WorkflowPhase phase)
{
    if (runPhase == Done)
        return;

    switch (phase) {
    case WorkflowPhase::NoDevice:
        // Lost during an update, the update's end says how it ended.
        if (deviceActive && runPhase != Updating) {
            cliOutput->error(QStringLiteral("The device was disconnected."), QStringLiteral("device-lost"));
            finish(1);
            return;
        }
        break;
    case WorkflowPhase::Connecting:
        break;
    case WorkflowPhase::Idle:
    case WorkflowPhase::Planned:
        deviceActive = true;
        connectTimeout.stop();
        onIdle();
        return;
    default:
        deviceActive = true;
        break;
    }
    progressLines->setStep(phase);

    if (runPhase == Updating && printsOnEntry(phase))
        cliOutput->info(phaseStatusText(phase).section(QLatin1Char('\n'), 0, 0));
}

void WorkflowRunner::onUpdateEnded(UpdateOutcome outcome)
{
    if (runPhase != Updating)
        return;
    switch (outcome) {
    case UpdateOutcome::Done:
    case UpdateOutcome::NotApplied:
        finish(report.reportResult(readyConnection));
        return;
    case UpdateOutcome::Failed:
    case UpdateOutcome::Stopped:
        // The window's lasting strip says the same: what was not installed, why, and what next.
        if (!failureShown) {
            cliOutput->error(InstallSummary::failureText(
                                 workflow->installSummary().notInstalled(), workflow->lastFailure()),
                QLatin1String(updateFailureName(workflow->lastFailure())));
        }
        finish(outcome == UpdateOutcome::Failed && workflow->deviceAccessDenied() ? 2 : 1);
        return;
    }
}

void WorkflowRunner::onIdle()
{
    switch (runPhase) {
    case Connecting:
        cliOutput->info(DeviceReport::connectionText(readyConnection) + QStringLiteral(" is ready."));
        for (const QString& text : std::exchange(heldRetries, {}))
            cliOutput->info(text);
        // The command runs once the machine has settled in its idle state.
        QMetaObject::invokeMethod(this, &WorkflowRunner::runCommand, Qt::QueuedConnection);
        break;
    case Checking:
        onPlanned();
        break;
    default:
        break;
    }
}

void WorkflowRunner::runCommand()
{
    if (runPhase != Connecting)
        return;
    if (cliOptions.command == CliOptions::Install) {
        runPhase = Confirming;
        if (cliOptions.yes)
            beginUpdate();
        else
            askToConfirm();
        return;
    }
    // The device's last update stopped before its end: it is finished first, from the files it kept.
    if (cliOptions.command == CliOptions::Update) {
        if (const std::optional<UpdateJournal> stopped = workflow->interruptedUpdate()) {
            cliOutput->info(stopped->finishingText());
            finishing = true;
            runPhase = Confirming;
            if (cliOptions.yes)
                beginUpdate();
            else
                confirmation->ask(QStringLiteral("Finish it now? [y/N] "));
            return;
        }
    }
    runPhase = Checking;
    cliOutput->info(phaseStatusText(WorkflowPhase::Checking));
    workflow->checkForUpdates();
}

void WorkflowRunner::finishStoppedUpdate()
{
    finishing = false;
    if (workflow->finishInterruptedUpdate())
        return;
    progressLines->setFollowing(false);
    if (questions.takeDeclined()) {
        finish(lowPowerExitCode);
        return;
    }
    // A kept file is missing or changed: the workflow checks for updates instead, and the update
    // goes on as any other.
    runPhase = Checking;
    cliOutput->info(phaseStatusText(WorkflowPhase::Checking));
}

void WorkflowRunner::onPlanned()
{
    if (const std::optional<int> exitCode = report.reportPlan(readyConnection)) {
        finish(*exitCode);
        return;
    }
    runPhase = Confirming;
    if (cliOptions.yes)
        beginUpdate();
    else if (powerAllowsUpdate())
        askToConfirm();
}

bool WorkflowRunner::powerAllowsUpdate()
{
    // Without --yes nothing could make a low battery acceptable: refused before the question.
    const QString warning = workflow->powerWarning(workflow->estimate());
    if (warning.isEmpty())
        return true;
    cliOutput->error(CliQuestions::refusalText(PowerCheck::title(), warning),
        QLatin1String(updateFailureName(UpdateFailure::Power)));
    finish(lowPowerExitCode);
    return false;
}

void WorkflowRunner::askToConfirm()
{
    confirmation->ask(cliOptions.command == CliOptions::Install
            ? QStringLiteral("Install %1 from %2 now? [y/N] ")
                  .arg(componentTypeName(cliOptions.type), cliOptions.file)
            : QStringLiteral("Install %1 component(s) now? [y/N] ").arg(workflow->plan().size()));
}

void WorkflowRunner::onAnswer(bool yes)
{
    if (runPhase != Confirming)
        return;
    if (yes) {
        beginUpdate();
        return;
    }
    cliOutput->error(QStringLiteral("Update cancelled."), QStringLiteral("cancelled"));
    finish(1);
}

void WorkflowRunner::beginUpdate()
{
    runPhase = Updating;
    progressLines->setFollowing(true);
    if (finishing) {
        finishStoppedUpdate();
        return;
    }
    if (cliOptions.command != CliOptions::Install) {
        workflow->startUpdate();
        if (questions.takeDeclined())
            finish(lowPowerExitCode);
        return;
    }
    cliOutput->info(
        QStringLiteral("Installing %1 from %2").arg(componentTypeName(cliOptions.type), cliOptions.file));
    if (!workflow->installFile(cliOptions.type, cliOptions.file))
        finish(questions.takeDeclined() ? lowPowerExitCode : 2);
}

void WorkflowRunner::onMessage(MessageKind kind, const QString& title, const QString& text)
{
    if (runPhase == Done)
        return;
    // The workflow may try the bus before the command has chosen its device: a device that is not
    // there is the answer then, not the failure to connect to another.
    if (runPhase == Scanning && kind == MessageKind::Critical) {
        onScanned();
        if (runPhase == Done)
            return;
    }
    if (kind == MessageKind::Critical && runPhase != Updating
        && workflow->lastDeviceFailure() == LinkDeviceBusy) {
        cliOutput->error(DeviceReport::busyText(readyConnection), QStringLiteral("busy"));
        finish(3);
        return;
    }
    if (kind != MessageKind::Critical) {
        cliOutput->info(text);
        return;
    }
    // The kind the engine noted as it told the failure; the title's for a message that noted none.
    const UpdateFailure failure = workflow->lastFailure();
    cliOutput->error(title.isEmpty() ? text : title + QStringLiteral(": ") + text,
        workflow->deviceAccessDenied()       ? QLatin1String(updateFailureName(UpdateFailure::DeviceAccess))
            : failure != UpdateFailure::None ? QLatin1String(updateFailureName(failure))
                                             : CliOutput::errorKindForTitle(title));
    // During an update the workflow goes on to its end, which updateEnded tells; any other
    // failure ends the command.
    if (runPhase == Updating) {
        failureShown = true;
        return;
    }
    // Not a fault of the device but of the account: nothing the updater can do about it.
    finish(workflow->deviceAccessDenied() ? 2 : 1);
}

void WorkflowRunner::interrupt(int signalNumber)
{
    if (runPhase == Done)
        return;
    // Only Ctrl-C is asked twice: a stop from a service manager or a closed terminal comes once,
    // and whatever sent it kills the updater when it is not obeyed.
    if (workflow->isTransferring()) {
        if (signalNumber == SIGINT
            && (!sinceWarning.isValid() || sinceWarning.elapsed() > confirmInterruptMs)) {
            sinceWarning.start();
            cliOutput->warning(
                QStringLiteral("A component is being sent to the device. Stopping now may leave "
                               "the device unusable until it is updated again. Press Ctrl-C again "
                               "within 5 seconds to stop anyway."));
            return;
        }
        cliOutput->error(QStringLiteral("Stopping after the current packet."), QStringLiteral("stopped"));
    } else {
        cliOutput->error(QStringLiteral("Stopped."), QStringLiteral("stopped"));
    }
    finish(1);
}

void WorkflowRunner::finish(int exitCode)
{
    if (runPhase == Done)
        return;
    runPhase = Done;
    progressLines->setFollowing(false);
    connectTimeout.stop();
    confirmation->close();
    cliOutput->endProgress();
    emit finished(exitCode);
}

} // namespace PelkPlus
