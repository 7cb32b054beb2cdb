#include "cli/WorkflowRunner.h"

#include "cli/CliOutput.h"
#include "cli/DeviceChoice.h"
#include "cli/DeviceReport.h"
#include "device/LinkResult.h"
#include "workflow/ComponentFileName.h"
#include "workflow/PowerCheck.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/VersionText.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowNotifier.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <utility>

#include <unistd.h>

namespace PelkPlus {

namespace {

// The phases whose status the command line prints as it enters them, by the first paragraph of the
// text the window shows; the other phases' texts come as status messages or are made of progress.
bool printsOnEntry(WorkflowPhase phase)
{
    return phase == WorkflowPhase::Updating || phase == WorkflowPhase::Installing
        || phase == WorkflowPhase::AwaitingFinish || phase == WorkflowPhase::AwaitingReboot;
}

QJsonArray componentArray(const QList<Component>& components)
{
    QJsonArray array;
    for (const Component& component : components)
        array.append(DeviceReport::componentObject(component));
    return array;
}

} // namespace

QString WorkflowRunner::serviceUpdateText()
{
    return QStringLiteral(
        "An update exists that cannot be installed over USB: this device's MCU firmware must "
        "be programmed into the MCU directly, by a service centre.");
}

QString WorkflowRunner::completionText(const QList<InstalledComponent>& components)
{
    int verified = 0;
    QStringList unchecked;
    for (const InstalledComponent& component : components) {
        if (component.verified)
            ++verified;
        else
            unchecked.append(componentTypeName(component.type));
    }
    const int count = int(components.size());
    const QString counted = QStringLiteral("%1 %2").arg(count).arg(
        count == 1 ? QStringLiteral("component") : QStringLiteral("components"));
    if (unchecked.isEmpty())
        return QStringLiteral("Update complete: %1 installed and verified.").arg(counted);
    // A file from this computer carries no version that the device's could be compared with.
    return QStringLiteral("Update complete: %1 installed, %2 verified (no version known for: %3).")
        .arg(counted)
        .arg(verified)
        .arg(unchecked.join(QStringLiteral(", ")));
}

WorkflowRunner::WorkflowRunner(const CliOptions& options, CliOutput* output, QObject* parent)
    : QObject(parent)
    , cliOptions(options)
    , cliOutput(output)
    , questions(output)
{
    workflow = new UpdateWorkflow(this);
    workflow->setQuestions(&questions);
    questions.setConfirmed(options.yes && options.ignorePower);
    // The command line installs device components only; it never offers a newer updater.
    workflow->setAppPackageType(std::nullopt);
    workflow->setPreferredSerial(options.serial);

    connect(workflow, &WorkflowNotifier::devicesScanned, this, &WorkflowRunner::onScanned);
    connect(workflow, &WorkflowNotifier::phaseChanged, this, &WorkflowRunner::onPhaseChanged);
    connect(workflow, &WorkflowNotifier::updateEnded, this, &WorkflowRunner::onUpdateEnded);
    connect(workflow, &WorkflowNotifier::componentVerified, this,
        [this](ComponentType type, const QString& before, const QString& sent, VerificationOutcome outcome) {
            if (outcome == VerificationOutcome::NotApplied)
                notApplied.append(type);
            else
                installed.append({ type, VersionText::displayed(type, before), sent,
                    outcome == VerificationOutcome::Verified });
        });
    connect(workflow, &WorkflowNotifier::messageRequested, this, &WorkflowRunner::onMessage);
    connect(workflow, &WorkflowNotifier::componentTextChanged, this, [this](const QString& text) {
        // "Updating DSP Firmware (Component 2/4)": the plan's entry being installed.
        static const QRegularExpression counted(QStringLiteral("\\(Component (\\d+)/\\d+\\)$"));
        const QRegularExpressionMatch match = counted.match(text);
        if (match.hasMatch())
            componentIndex = match.captured(1).toInt() - 1;
        cliOutput->info(text);
    });
    connect(workflow, &WorkflowNotifier::downloadTextChanged, this,
        [this](const QString& text) { downloadText = text; });
    connect(workflow, &WorkflowNotifier::installTextChanged, this,
        [this](const QString& text) { installText = text; });
    connect(workflow, &WorkflowNotifier::downloadProgressChanged, this, &WorkflowRunner::onDownloadProgress);
    connect(workflow, &WorkflowNotifier::installProgressChanged, this, &WorkflowRunner::onInstallProgress);
    connect(
        workflow, &WorkflowNotifier::retrying, this, [this](const QString& text) { cliOutput->info(text); });
    connect(workflow, &WorkflowNotifier::statusChanged, this, [this](const QString& text, MessageKind) {
        cliOutput->info(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char('\n')));
    });

    connect(workflow->progressClock(), &UpdateProgressClock::progressChanged, this,
        &WorkflowRunner::onOverallProgress);

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
    workflow->start();
}

void WorkflowRunner::onScanned()
{
    if (runPhase != Scanning)
        return;

    const QList<Connection> all = DeviceChoice::devices(workflow->connections());
    QList<Connection> matching;
    for (const Connection& connection : all) {
        if (cliOptions.serial.isEmpty() || connection.serialNumber == cliOptions.serial)
            matching.append(connection);
    }

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
    connectTimeout.start(connectTimeoutMs);
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
    step = phase;

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
        reportResult();
        return;
    case UpdateOutcome::Failed:
        if (!failureShown) {
            if (workflow->hasDevice())
                cliOutput->error(QStringLiteral("The update failed."), QStringLiteral("install"));
            else
                cliOutput->error(
                    QStringLiteral("The device was disconnected."), QStringLiteral("device-lost"));
        }
        finish(workflow->deviceAccessDenied() ? 2 : 1);
        return;
    case UpdateOutcome::Stopped:
        if (!failureShown)
            cliOutput->error(QStringLiteral("The update was stopped."), QStringLiteral("stopped"));
        finish(1);
        return;
    }
}

void WorkflowRunner::onIdle()
{
    switch (runPhase) {
    case Connecting:
        cliOutput->info(DeviceReport::connectionText(readyConnection) + QStringLiteral(" is ready."));
        // The command runs once the machine has settled in its idle state.
        QMetaObject::invokeMethod(this, &WorkflowRunner::runCommand, Qt::QueuedConnection);
        break;
    case Checking:
        reportPlan();
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
    runPhase = Checking;
    cliOutput->info(phaseStatusText(WorkflowPhase::Checking));
    workflow->checkForUpdates();
}

void WorkflowRunner::reportPlan()
{
    const QList<Component> plan = workflow->plan();
    const QStringList warnings = workflow->planWarnings();
    const QString checked = workflow->lastChecked().toString();

    if (plan.isEmpty()) {
        cliOutput->result(QStringLiteral("No updates available (last checked on %1).").arg(checked));
    } else {
        QString text
            = QStringLiteral("The following components can be updated (last checked on %1):").arg(checked);
        for (const Component& component : plan)
            text += QStringLiteral("\n  ") + UpdatePlanner::describe(component);
        cliOutput->result(text);
        cliOutput->info(QStringLiteral("The update takes %1 once the files are downloaded.")
                            .arg(workflow->estimate().text()));
    }
    if (!warnings.isEmpty())
        cliOutput->result(QStringLiteral("WARNING:\n") + warnings.join(QLatin1Char('\n')));
    const bool verified = workflow->isCatalogueVerified();
    if (!verified)
        cliOutput->result(WorkflowNotifier::unverifiedCatalogueText());

    if (cliOptions.command == CliOptions::Check || plan.isEmpty()) {
        const DeviceInfo info = workflow->deviceInfo();
        QJsonObject object { { QStringLiteral("device"), DeviceReport::deviceObject(readyConnection, &info) },
            { QStringLiteral("updates"), componentArray(plan) }, { QStringLiteral("verified"), verified } };
        if (!warnings.isEmpty())
            object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(warnings));
        cliOutput->object(object);
        // Up to date as far as USB goes, but not as far as the catalogue does: a script must be
        // able to tell the two apart.
        if (plan.isEmpty() && warnings.contains(UpdatePlanner::mcuNotUpdatableWarning())) {
            cliOutput->error(serviceUpdateText(), QStringLiteral("service-update"));
            finish(serviceUpdateExitCode);
            return;
        }
        finish(0);
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
    cliOutput->error(CliQuestions::refusalText(PowerCheck::title(), warning));
    finish(lowPowerExitCode);
    return false;
}

void WorkflowRunner::askToConfirm()
{
    if (cliOptions.command == CliOptions::Install) {
        cliOutput->prompt(QStringLiteral("Install %1 from %2 now? [y/N] ")
                              .arg(componentTypeName(cliOptions.type), cliOptions.file));
    } else {
        cliOutput->prompt(QStringLiteral("Install %1 component(s) now? [y/N] ").arg(workflow->plan().size()));
    }
    input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(input, &QSocketNotifier::activated, this, &WorkflowRunner::onAnswer);
}

void WorkflowRunner::onAnswer()
{
    char buffer[256];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof(buffer));
    if (got > 0) {
        answerLine.append(buffer, int(got));
        if (!answerLine.contains('\n'))
            return;
    }
    input->setEnabled(false);
    const QByteArray answer = answerLine.left(answerLine.indexOf('\n')).trimmed().toLower();
    if (runPhase != Confirming)
        return;
    if (answer == "y" || answer == "yes") {
        beginUpdate();
        return;
    }
    cliOutput->error(QStringLiteral("Update cancelled."), QStringLiteral("cancelled"));
    finish(1);
}

void WorkflowRunner::beginUpdate()
{
    runPhase = Updating;
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

// A bar at 0 is only the reset before a step; the first bar is drawn once the step has begun.
void WorkflowRunner::onDownloadProgress(int percent)
{
    // A file from this computer is not downloaded: its step is done at once.
    if (cliOptions.command == CliOptions::Install)
        return;
    const bool downloading = step == WorkflowPhase::Downloading;
    if (percent > 0 && runPhase == Updating && downloading && !downloadText.isEmpty())
        cliOutput->progress(downloadText, percent);
}

void WorkflowRunner::onInstallProgress(int percent)
{
    installPercent = percent;
    if (percent > 0 && runPhase == Updating && step == WorkflowPhase::Installing && !installText.isEmpty())
        cliOutput->progress(overallText.isEmpty() || !cliOutput->terminal()
                ? installLabel()
                : installLabel() + QStringLiteral(" - ") + overallText,
            percent);
}

void WorkflowRunner::onOverallProgress(const QString& text)
{
    const int component = workflow->progressClock()->component();
    const bool componentChanged = component != std::exchange(overallComponent, component);
    overallText = text;
    if (runPhase != Updating || text.isEmpty())
        return;
    // Off a terminal a line for every beat would bury the rest: one as each component begins.
    if (!cliOutput->terminal()) {
        if (componentChanged)
            cliOutput->info(text);
        return;
    }
    switch (step) {
    case WorkflowPhase::Installing:
        onInstallProgress(installPercent);
        break;
    case WorkflowPhase::AwaitingUpdateMode:
    case WorkflowPhase::AwaitingFinish:
    case WorkflowPhase::AwaitingPowerCycle:
    case WorkflowPhase::AwaitingReboot:
        cliOutput->progress(text, workflow->progressClock()->percent());
        break;
    default:
        break;
    }
}

QString WorkflowRunner::installLabel() const
{
    // DSP firmware is listed by the size of its text file and sent as the bytes that text spells,
    // about a fifth of it: the label says both are the one file.
    const Component component = workflow->plan().value(componentIndex);
    static const QRegularExpression sent(QStringLiteral("^Installing \\((\\d+) KB\\)$"));
    const QRegularExpressionMatch match = sent.match(installText);
    if (component.type != ComponentType::DspFirmware || component.size <= 0 || !match.hasMatch())
        return installText;
    return QStringLiteral("Installing (%1 KB: the %2 KB text file as bytes)")
        .arg(match.captured(1), UpdatePlanner::kilobytesText(component.size));
}

void WorkflowRunner::reportResult()
{
    const DeviceInfo info = workflow->deviceInfo();
    // After an update the plan is made again against the rebooted device: anything still listed
    // did not take.
    const QList<Component> left
        = cliOptions.command == CliOptions::Update ? workflow->plan() : QList<Component>();
    cliOutput->result(QStringLiteral("Device versions:\n") + DeviceReport::versionLines(info));
    QJsonArray done;
    for (const InstalledComponent& component : qAsConst(installed)) {
        QJsonObject entry { { QStringLiteral("component"), componentTypeName(component.type) },
            { QStringLiteral("before"), component.before },
            { QStringLiteral("verified"), component.verified } };
        // A local file's version is not known; a catalogue's is given as the device will show it,
        // and as the catalogue writes it.
        if (!component.sent.isEmpty()) {
            entry.insert(QStringLiteral("version"), VersionText::displayed(component.type, component.sent));
            entry.insert(QStringLiteral("catalogueVersion"), component.sent);
        }
        done.append(entry);
    }
    // "updates" of check lists what is to be installed; after an update the list is of what the
    // device did not take, which has a name of its own.
    cliOutput->object(
        QJsonObject { { QStringLiteral("device"), DeviceReport::deviceObject(readyConnection, &info) },
            { QStringLiteral("installed"), done }, { QStringLiteral("notApplied"), componentArray(left) } });
    // A component the device did not take ends the update before the next one is sent, so only
    // that one is named; otherwise what the plan made again still lists did not take.
    QStringList names;
    for (ComponentType type : qAsConst(notApplied))
        names.append(componentTypeName(type));
    if (names.isEmpty()) {
        for (const Component& component : left)
            names.append(componentTypeName(component.type));
    }
    if (!names.isEmpty()) {
        cliOutput->error(QStringLiteral("The device does not report the new version of: %1")
                             .arg(names.join(QStringLiteral(", "))),
            QStringLiteral("not-applied"));
        finish(1);
        return;
    }
    cliOutput->info(completionText(installed));
    finish(0);
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
    cliOutput->error(title.isEmpty() ? text : title + QStringLiteral(": ") + text,
        workflow->deviceAccessDenied() ? QStringLiteral("device-access")
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

void WorkflowRunner::interrupt()
{
    if (runPhase == Done)
        return;
    if (workflow->isTransferring()) {
        if (!sinceWarning.isValid() || sinceWarning.elapsed() > confirmInterruptMs) {
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
    connectTimeout.stop();
    if (input)
        input->setEnabled(false);
    cliOutput->endProgress();
    emit finished(exitCode);
}

} // namespace PelkPlus
