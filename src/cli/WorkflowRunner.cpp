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
    , m_options(options)
    , m_output(output)
    , m_questions(output)
{
    m_workflow = new UpdateWorkflow(this);
    m_workflow->setQuestions(&m_questions);
    m_questions.setConfirmed(options.yes && options.ignorePower);
    // The command line installs device components only; it never offers a newer updater.
    m_workflow->setAppPackageType(std::nullopt);
    m_workflow->setPreferredSerial(options.serial);

    connect(m_workflow, &WorkflowNotifier::devicesScanned, this, &WorkflowRunner::onScanned);
    connect(m_workflow, &WorkflowNotifier::phaseChanged, this, &WorkflowRunner::onPhaseChanged);
    connect(m_workflow, &WorkflowNotifier::updateEnded, this, &WorkflowRunner::onUpdateEnded);
    connect(m_workflow, &WorkflowNotifier::componentVerified, this,
        [this](ComponentType type, const QString& before, const QString& sent, VerificationOutcome outcome) {
            if (outcome == VerificationOutcome::NotApplied)
                m_notApplied.append(type);
            else
                installed.append({ type, VersionText::displayed(type, before), sent,
                    outcome == VerificationOutcome::Verified });
        });
    connect(m_workflow, &WorkflowNotifier::messageRequested, this, &WorkflowRunner::onMessage);
    connect(m_workflow, &WorkflowNotifier::componentTextChanged, this, [this](const QString& text) {
        // "Updating DSP Firmware (Component 2/4)": the plan's entry being installed.
        static const QRegularExpression counted(QStringLiteral("\\(Component (\\d+)/\\d+\\)$"));
        const QRegularExpressionMatch match = counted.match(text);
        if (match.hasMatch())
            componentIndex = match.captured(1).toInt() - 1;
        m_output->info(text);
    });
    connect(m_workflow, &WorkflowNotifier::downloadTextChanged, this,
        [this](const QString& text) { m_downloadText = text; });
    connect(m_workflow, &WorkflowNotifier::installTextChanged, this,
        [this](const QString& text) { m_installText = text; });
    connect(
        m_workflow, &WorkflowNotifier::downloadProgressChanged, this, &WorkflowRunner::onDownloadProgress);
    connect(m_workflow, &WorkflowNotifier::installProgressChanged, this, &WorkflowRunner::onInstallProgress);
    connect(m_workflow, &WorkflowNotifier::statusChanged, this, [this](const QString& text, MessageKind) {
        m_output->info(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char('\n')));
    });

    connect(m_workflow->progressClock(), &UpdateProgressClock::progressChanged, this,
        &WorkflowRunner::onOverallProgress);

    m_connectTimeout.setSingleShot(true);
    connect(&m_connectTimeout, &QTimer::timeout, this, [this] {
        m_output->error(QStringLiteral("The device did not answer."), QStringLiteral("connection"));
        finish(1);
    });
}

WorkflowRunner::~WorkflowRunner()
{
    // Goes first, while the questions it may still ask are alive.
    delete m_workflow;
}

void WorkflowRunner::start()
{
    if (m_options.command == CliOptions::Install && !QFileInfo(m_options.file).isFile()) {
        m_output->error(QStringLiteral("No such file: %1").arg(m_options.file), QStringLiteral("file"));
        finish(2);
        return;
    }
    // Refused before the device is even opened, with the name the file should have.
    if (m_options.command == CliOptions::Install
        && !ComponentFileName::fits(m_options.type, m_options.file)) {
        m_output->error(QStringLiteral("Invalid File: ") + ComponentFileName::refusalText(m_options.type),
            QStringLiteral("file"));
        finish(2);
        return;
    }
    m_workflow->start();
}

void WorkflowRunner::onScanned()
{
    if (m_phase != Scanning)
        return;

    const QList<Connection> all = DeviceChoice::devices(m_workflow->connections());
    QList<Connection> matching;
    for (const Connection& connection : all) {
        if (m_options.serial.isEmpty() || connection.serialNumber == m_options.serial)
            matching.append(connection);
    }

    if (all.isEmpty()) {
        m_output->error(QStringLiteral("No device connected."), QStringLiteral("no-device"));
        finish(2);
        return;
    }
    if (matching.size() != 1) {
        QString text = matching.isEmpty()
            ? QStringLiteral("No device with serial number %1 is connected. Connected:").arg(m_options.serial)
            : QStringLiteral("%1 devices are connected; choose one with --device SERIAL:")
                  .arg(matching.size());
        for (const Connection& connection : all)
            text += QStringLiteral("\n  ") + DeviceReport::connectionText(connection);
        m_output->error(text, matching.isEmpty() ? QStringLiteral("no-device") : QStringLiteral("usage"));
        finish(2);
        return;
    }

    m_connection = matching.first();
    m_phase = Connecting;
    m_connectTimeout.start(connectTimeoutMs);
}

void WorkflowRunner::onPhaseChanged(WorkflowPhase phase)
{
    if (m_phase == Done)
        return;

    switch (phase) {
    case WorkflowPhase::NoDevice:
        // Lost during an update, the update's end says how it ended.
        if (m_deviceActive && m_phase != Updating) {
            m_output->error(QStringLiteral("The device was disconnected."), QStringLiteral("device-lost"));
            finish(1);
            return;
        }
        break;
    case WorkflowPhase::Connecting:
        break;
    case WorkflowPhase::Idle:
    case WorkflowPhase::Planned:
        m_deviceActive = true;
        m_connectTimeout.stop();
        onIdle();
        return;
    default:
        m_deviceActive = true;
        break;
    }
    m_step = phase;

    if (m_phase == Updating && printsOnEntry(phase))
        m_output->info(phaseStatusText(phase).section(QLatin1Char('\n'), 0, 0));
}

void WorkflowRunner::onUpdateEnded(UpdateOutcome outcome)
{
    if (m_phase != Updating)
        return;
    switch (outcome) {
    case UpdateOutcome::Done:
    case UpdateOutcome::NotApplied:
        reportResult();
        return;
    case UpdateOutcome::Failed:
        if (!m_failureShown) {
            if (m_workflow->hasDevice())
                m_output->error(QStringLiteral("The update failed."), QStringLiteral("install"));
            else
                m_output->error(
                    QStringLiteral("The device was disconnected."), QStringLiteral("device-lost"));
        }
        finish(m_workflow->deviceAccessDenied() ? 2 : 1);
        return;
    case UpdateOutcome::Stopped:
        if (!m_failureShown)
            m_output->error(QStringLiteral("The update was stopped."), QStringLiteral("stopped"));
        finish(1);
        return;
    }
}

void WorkflowRunner::onIdle()
{
    switch (m_phase) {
    case Connecting:
        m_output->info(DeviceReport::connectionText(m_connection) + QStringLiteral(" is ready."));
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
    if (m_phase != Connecting)
        return;
    if (m_options.command == CliOptions::Install) {
        m_phase = Confirming;
        if (m_options.yes)
            beginUpdate();
        else
            askToConfirm();
        return;
    }
    m_phase = Checking;
    m_output->info(phaseStatusText(WorkflowPhase::Checking));
    m_workflow->checkForUpdates();
}

void WorkflowRunner::reportPlan()
{
    const QList<Component> plan = m_workflow->plan();
    const QStringList warnings = m_workflow->planWarnings();
    const QString checked = m_workflow->lastChecked().toString();

    if (plan.isEmpty()) {
        m_output->result(QStringLiteral("No updates available (last checked on %1).").arg(checked));
    } else {
        QString text
            = QStringLiteral("The following components can be updated (last checked on %1):").arg(checked);
        for (const Component& component : plan)
            text += QStringLiteral("\n  ") + UpdatePlanner::describe(component);
        m_output->result(text);
        m_output->info(QStringLiteral("The update takes %1 once the files are downloaded.")
                           .arg(m_workflow->estimate().text()));
    }
    if (!warnings.isEmpty())
        m_output->result(QStringLiteral("WARNING:\n") + warnings.join(QLatin1Char('\n')));
    const bool verified = m_workflow->isCatalogueVerified();
    if (!verified)
        m_output->result(WorkflowNotifier::unverifiedCatalogueText());

    if (m_options.command == CliOptions::Check || plan.isEmpty()) {
        const DeviceInfo info = m_workflow->deviceInfo();
        QJsonObject object { { QStringLiteral("device"), DeviceReport::deviceObject(m_connection, &info) },
            { QStringLiteral("updates"), componentArray(plan) }, { QStringLiteral("verified"), verified } };
        if (!warnings.isEmpty())
            object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(warnings));
        m_output->object(object);
        // Up to date as far as USB goes, but not as far as the catalogue does: a script must be
        // able to tell the two apart.
        if (plan.isEmpty() && warnings.contains(UpdatePlanner::mcuNotUpdatableWarning())) {
            m_output->error(serviceUpdateText(), QStringLiteral("service-update"));
            finish(serviceUpdateExitCode);
            return;
        }
        finish(0);
        return;
    }
    m_phase = Confirming;
    if (m_options.yes)
        beginUpdate();
    else if (powerAllowsUpdate())
        askToConfirm();
}

bool WorkflowRunner::powerAllowsUpdate()
{
    // Without --yes nothing could make a low battery acceptable: refused before the question.
    const QString warning = m_workflow->powerWarning(m_workflow->estimate());
    if (warning.isEmpty())
        return true;
    m_output->error(CliQuestions::refusalText(PowerCheck::title(), warning));
    finish(lowPowerExitCode);
    return false;
}

void WorkflowRunner::askToConfirm()
{
    if (m_options.command == CliOptions::Install) {
        m_output->prompt(QStringLiteral("Install %1 from %2 now? [y/N] ")
                             .arg(componentTypeName(m_options.type), m_options.file));
    } else {
        m_output->prompt(
            QStringLiteral("Install %1 component(s) now? [y/N] ").arg(m_workflow->plan().size()));
    }
    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, &WorkflowRunner::onAnswer);
}

void WorkflowRunner::onAnswer()
{
    char buffer[256];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof(buffer));
    if (got > 0) {
        m_answer.append(buffer, int(got));
        if (!m_answer.contains('\n'))
            return;
    }
    m_input->setEnabled(false);
    const QByteArray answer = m_answer.left(m_answer.indexOf('\n')).trimmed().toLower();
    if (m_phase != Confirming)
        return;
    if (answer == "y" || answer == "yes") {
        beginUpdate();
        return;
    }
    m_output->error(QStringLiteral("Update cancelled."), QStringLiteral("cancelled"));
    finish(1);
}

void WorkflowRunner::beginUpdate()
{
    m_phase = Updating;
    if (m_options.command != CliOptions::Install) {
        m_workflow->startUpdate();
        if (m_questions.takeDeclined())
            finish(lowPowerExitCode);
        return;
    }
    m_output->info(
        QStringLiteral("Installing %1 from %2").arg(componentTypeName(m_options.type), m_options.file));
    if (!m_workflow->installFile(m_options.type, m_options.file))
        finish(m_questions.takeDeclined() ? lowPowerExitCode : 2);
}

// A bar at 0 is only the reset before a step; the first bar is drawn once the step has begun.
void WorkflowRunner::onDownloadProgress(int percent)
{
    // A file from this computer is not downloaded: its step is done at once.
    if (m_options.command == CliOptions::Install)
        return;
    const bool downloading = m_step == WorkflowPhase::Downloading;
    if (percent > 0 && m_phase == Updating && downloading && !m_downloadText.isEmpty())
        m_output->progress(m_downloadText, percent);
}

void WorkflowRunner::onInstallProgress(int percent)
{
    installPercent = percent;
    if (percent > 0 && m_phase == Updating && m_step == WorkflowPhase::Installing && !m_installText.isEmpty())
        m_output->progress(overallText.isEmpty() || !m_output->terminal()
                ? installLabel()
                : installLabel() + QStringLiteral(" - ") + overallText,
            percent);
}

void WorkflowRunner::onOverallProgress(const QString& text)
{
    const int component = m_workflow->progressClock()->component();
    const bool componentChanged = component != std::exchange(overallComponent, component);
    overallText = text;
    if (m_phase != Updating || text.isEmpty())
        return;
    // Off a terminal a line for every beat would bury the rest: one as each component begins.
    if (!m_output->terminal()) {
        if (componentChanged)
            m_output->info(text);
        return;
    }
    switch (m_step) {
    case WorkflowPhase::Installing:
        onInstallProgress(installPercent);
        break;
    case WorkflowPhase::AwaitingUpdateMode:
    case WorkflowPhase::AwaitingFinish:
    case WorkflowPhase::AwaitingPowerCycle:
    case WorkflowPhase::AwaitingReboot:
        m_output->progress(text, m_workflow->progressClock()->percent());
        break;
    default:
        break;
    }
}

QString WorkflowRunner::installLabel() const
{
    // DSP firmware is listed by the size of its text file and sent as the bytes that text spells,
    // about a fifth of it: the label says both are the one file.
    const Component component = m_workflow->plan().value(componentIndex);
    static const QRegularExpression sent(QStringLiteral("^Installing \\((\\d+) KB\\)$"));
    const QRegularExpressionMatch match = sent.match(m_installText);
    if (component.type != ComponentType::DspFirmware || component.size <= 0 || !match.hasMatch())
        return m_installText;
    return QStringLiteral("Installing (%1 KB: the %2 KB text file as bytes)")
        .arg(match.captured(1), UpdatePlanner::kilobytesText(component.size));
}

void WorkflowRunner::reportResult()
{
    const DeviceInfo info = m_workflow->deviceInfo();
    // After an update the plan is made again against the rebooted device: anything still listed
    // did not take.
    const QList<Component> left
        = m_options.command == CliOptions::Update ? m_workflow->plan() : QList<Component>();
    m_output->result(QStringLiteral("Device versions:\n") + DeviceReport::versionLines(info));
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
    m_output->object(
        QJsonObject { { QStringLiteral("device"), DeviceReport::deviceObject(m_connection, &info) },
            { QStringLiteral("installed"), done }, { QStringLiteral("notApplied"), componentArray(left) } });
    // A component the device did not take ends the update before the next one is sent, so only
    // that one is named; otherwise what the plan made again still lists did not take.
    QStringList names;
    for (ComponentType type : qAsConst(m_notApplied))
        names.append(componentTypeName(type));
    if (names.isEmpty()) {
        for (const Component& component : left)
            names.append(componentTypeName(component.type));
    }
    if (!names.isEmpty()) {
        m_output->error(QStringLiteral("The device does not report the new version of: %1")
                            .arg(names.join(QStringLiteral(", "))),
            QStringLiteral("not-applied"));
        finish(1);
        return;
    }
    m_output->info(completionText(installed));
    finish(0);
}

void WorkflowRunner::onMessage(MessageKind kind, const QString& title, const QString& text)
{
    if (m_phase == Done)
        return;
    // The workflow may try the bus before the command has chosen its device: a device that is not
    // there is the answer then, not the failure to connect to another.
    if (m_phase == Scanning && kind == MessageKind::Critical) {
        onScanned();
        if (m_phase == Done)
            return;
    }
    if (kind == MessageKind::Critical && m_phase != Updating
        && m_workflow->lastDeviceFailure() == LinkDeviceBusy) {
        m_output->error(DeviceReport::busyText(m_connection), QStringLiteral("busy"));
        finish(3);
        return;
    }
    if (kind != MessageKind::Critical) {
        m_output->info(text);
        return;
    }
    m_output->error(title.isEmpty() ? text : title + QStringLiteral(": ") + text,
        m_workflow->deviceAccessDenied() ? QStringLiteral("device-access")
                                         : CliOutput::errorKindForTitle(title));
    // During an update the workflow goes on to its end, which updateEnded tells; any other
    // failure ends the command.
    if (m_phase == Updating) {
        m_failureShown = true;
        return;
    }
    // Not a fault of the device but of the account: nothing the updater can do about it.
    finish(m_workflow->deviceAccessDenied() ? 2 : 1);
}

void WorkflowRunner::interrupt()
{
    if (m_phase == Done)
        return;
    if (m_workflow->isTransferring()) {
        if (!m_sinceWarning.isValid() || m_sinceWarning.elapsed() > confirmInterruptMs) {
            m_sinceWarning.start();
            m_output->warning(
                QStringLiteral("A component is being sent to the device. Stopping now may leave "
                               "the device unusable until it is updated again. Press Ctrl-C again "
                               "within 5 seconds to stop anyway."));
            return;
        }
        m_output->error(QStringLiteral("Stopping after the current packet."), QStringLiteral("stopped"));
    } else {
        m_output->error(QStringLiteral("Stopped."), QStringLiteral("stopped"));
    }
    finish(1);
}

void WorkflowRunner::finish(int exitCode)
{
    if (m_phase == Done)
        return;
    m_phase = Done;
    m_connectTimeout.stop();
    if (m_input)
        m_input->setEnabled(false);
    m_output->endProgress();
    emit finished(exitCode);
}

} // namespace PelkPlus
