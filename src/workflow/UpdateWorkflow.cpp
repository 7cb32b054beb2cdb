#include "workflow/UpdateWorkflow.h"

#include "app/ConfigurationManager.h"
#include "app/PowerStatus.h"
#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "device/DeviceMonitor.h"
#include "update/DownloadAgent.h"
#include "update/UpdateBundle.h"
#include "update/UpdateManager.h"
#include "workflow/AppUpdateCheck.h"
#include "workflow/ComponentDownloads.h"
#include "workflow/DeviceSelection.h"
#include "workflow/InstallAttemptRecorder.h"
#include "workflow/JournalResume.h"
#include "workflow/LocalInstallRules.h"
#include "workflow/NamedState.h"
#include "workflow/PlanExecution.h"
#include "workflow/PowerCheck.h"
#include "workflow/UpdateEndReport.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/WorkflowQuestions.h"
#include "workflow/WorkflowRegion.h"
#include "workflow/WorkflowStates.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QState>

namespace PelkPlus {

UpdateWorkflow::UpdateWorkflow(QObject* parent)
    : WorkflowNotifier(parent)
{
    deviceMonitor = new DeviceMonitor(this);
    updateManager = new UpdateManager(this);
    downloadAgent = new DownloadAgent(this);
    selection = new DeviceSelection(deviceMonitor, this);
    appCheck = new AppUpdateCheck(updateManager, this);
    downloads = new ComponentDownloads(downloadAgent, currentPlan, this);
    execution = new PlanExecution(currentPlan, *selection, attempts, this);
    connect(this, &WorkflowNotifier::phaseChanged, execution, &PlanExecution::phaseEntered);
    connect(this, &WorkflowNotifier::updateEnded, execution, &PlanExecution::updateEnded);
    resume = new JournalResume(currentPlan, *execution);
    endReport = new UpdateEndReport([this] { return failureKind; }, [this] { return hasDevice(); }, this);
    connect(endReport, &UpdateEndReport::failureNoted, this, &UpdateWorkflow::noteFailure);
    connect(endReport, &UpdateEndReport::updateEnded, this, &WorkflowNotifier::updateEnded);
    endReport->setCauseKnown([this] { return !execution->isSettlingFailure(); });
    connect(execution, &PlanExecution::failureSettled, endReport, &UpdateEndReport::reportDue);
    workflowRegion = new WorkflowRegion(
        { currentPlan, *selection, *execution, *downloads, deviceMonitor, updateManager, downloadAgent },
        this);

    connect(this, &UpdateWorkflow::downloadFailure, this, &UpdateWorkflow::recordDownloadFailure);
    connect(deviceMonitor, &DeviceMonitor::scanned, this, &WorkflowNotifier::devicesScanned);
    connect(downloadAgent, &DownloadAgent::retrying, this, &WorkflowNotifier::retrying);
    connect(updateManager, &UpdateManager::retrying, this, &WorkflowNotifier::retrying);

    createStateMachine();
    connectHelperSignals();

    powerCheck = new PowerCheck(PowerStatus::createForPlatform());
    // The phases' signals come after the workflow's own steps, so the component index is current.
    clock = new UpdateProgressClock(this);
    connect(this, &WorkflowNotifier::phaseChanged, clock, [this](WorkflowPhase phase) {
        if (phase == WorkflowPhase::Updating)
            clock->begin(estimate());
        clock->enterPhase(phase, currentPlan.currentIndex());
    });
    // The transfer's share as the agent reports it, after every report: the rate of the first
    // sector is measured from it.
    connect(selection, &DeviceSelection::awaitingAnswer, clock, &UpdateProgressClock::awaitAnswer);
    connect(selection, &DeviceSelection::installProgress, clock,
        [this](float fraction, long) { clock->setTransferFraction(fraction); });
    connect(this, &WorkflowNotifier::updateEnded, clock, &UpdateProgressClock::stop);
    connect(this, &WorkflowNotifier::phaseChanged, this, [this](WorkflowPhase phase) {
        if (bundleCheckPending && phase == WorkflowPhase::Idle) {
            bundleCheckPending = false;
            // Once the machine has settled in the state it entered.
            QMetaObject::invokeMethod(this, &UpdateWorkflow::checkForUpdates, Qt::QueuedConnection);
        }
    });
}

UpdateWorkflow::~UpdateWorkflow()
{
    // Closed during an update: the update ends here, and says so to whoever still listens.
    if (const std::optional<UpdateOutcome> outcome = endReport->endAtExit())
        emit updateEnded(*outcome);
    // Quitting while a file was on its way to the device, or before the device came back with it.
    attempts.close(UpdateHistoryEntry::Interrupted);
    // Withdraws a request to stay awake that an update left behind.
    delete execution;
    delete powerCheck;
    delete resume;
}

// The helpers' own signals become the workflow's. Connected once the machine is built: a step is
// heard first by the helpers' listeners among themselves, then through the workflow by the faces,
// and last by the machine's transitions, which are connected as their states are entered.
void UpdateWorkflow::connectHelperSignals()
{
    connect(appCheck, &AppUpdateCheck::checkAppUpdatesRequest, this, &UpdateWorkflow::checkAppUpdatesRequest);
    connect(appCheck, &AppUpdateCheck::appUpdateOffered, this, &WorkflowNotifier::appUpdateOffered);
    connect(appCheck, &AppUpdateCheck::appUpdatesConfirmed, this, &UpdateWorkflow::appUpdatesConfirmed);
    connect(appCheck, &AppUpdateCheck::appUpdatesRejected, this, &UpdateWorkflow::appUpdatesRejected);
    connect(appCheck, &AppUpdateCheck::messageRequested, this, &WorkflowNotifier::messageRequested);

    connect(downloads, &ComponentDownloads::componentDownloadSkipped, this,
        &UpdateWorkflow::componentDownloadSkipped);
    connect(downloads, &ComponentDownloads::downloadFailure, this, &UpdateWorkflow::downloadFailure);
    connect(
        downloads, &ComponentDownloads::downloadTextChanged, this, &WorkflowNotifier::downloadTextChanged);
    connect(downloads, &ComponentDownloads::downloadProgressChanged, this,
        &WorkflowNotifier::downloadProgressChanged);
    connect(downloads, &ComponentDownloads::installTextChanged, this, &WorkflowNotifier::installTextChanged);
    connect(downloads, &ComponentDownloads::installProgressChanged, this,
        &WorkflowNotifier::installProgressChanged);
    connect(downloads, &ComponentDownloads::statusChanged, this, &WorkflowNotifier::statusChanged);

    connect(selection, &DeviceSelection::deviceConnected, this, &UpdateWorkflow::deviceConnected);
    connect(selection, &DeviceSelection::deviceReady, this, &UpdateWorkflow::deviceReady);
    connect(selection, &DeviceSelection::deviceDisconnected, this, &UpdateWorkflow::deviceDisconnected);
    connect(selection, &DeviceSelection::deviceReadyForUpdate, this, &UpdateWorkflow::deviceReadyForUpdate);
    connect(
        selection, &DeviceSelection::deviceNotReadyForUpdate, this, &UpdateWorkflow::deviceNotReadyForUpdate);
    connect(selection, &DeviceSelection::deviceDone, this, &UpdateWorkflow::deviceDone);
    connect(selection, &DeviceSelection::deviceFailure, this, &UpdateWorkflow::deviceFailure);
    connect(selection, &DeviceSelection::deviceAvailable, this, &UpdateWorkflow::deviceAvailable);
    connect(selection, &DeviceSelection::foreignDeviceReturned, this, &UpdateWorkflow::foreignDeviceReturned);
    connect(selection, &DeviceSelection::deviceSilent, this, &UpdateWorkflow::deviceSilent);
    connect(selection, &DeviceSelection::rebootWaitExpired, this, &UpdateWorkflow::rebootWaitExpired);
    connect(selection, &DeviceSelection::failureNoted, this, &UpdateWorkflow::noteFailure);
    connect(selection, &DeviceSelection::messageRequested, this, &WorkflowNotifier::messageRequested);

    connect(execution, &PlanExecution::componentSelected, this, &UpdateWorkflow::componentSelected);
    connect(execution, &PlanExecution::downloadsRequired, this, &UpdateWorkflow::downloadsRequired);
    connect(execution, &PlanExecution::updateFinished, this, &UpdateWorkflow::updateFinished);
    connect(execution, &PlanExecution::componentNotApplied, this, &UpdateWorkflow::componentNotApplied);
    connect(execution, &PlanExecution::installFailure, this, &UpdateWorkflow::installFailure);
    connect(execution, &PlanExecution::deviceReadyToReboot, this, &UpdateWorkflow::deviceReadyToReboot);
    connect(execution, &PlanExecution::componentVerified, this, &WorkflowNotifier::componentVerified);
    connect(execution, &PlanExecution::componentTextChanged, this, &WorkflowNotifier::componentTextChanged);
    connect(execution, &PlanExecution::downloadTextChanged, this, &WorkflowNotifier::downloadTextChanged);
    connect(execution, &PlanExecution::installTextChanged, this, &WorkflowNotifier::installTextChanged);
    connect(
        execution, &PlanExecution::downloadProgressChanged, this, &WorkflowNotifier::downloadProgressChanged);
    connect(
        execution, &PlanExecution::installProgressChanged, this, &WorkflowNotifier::installProgressChanged);
    connect(execution, &PlanExecution::statusChanged, this, &WorkflowNotifier::statusChanged);
    connect(execution, &PlanExecution::sleepNotPrevented, this, &WorkflowNotifier::sleepNotPrevented);
    connect(execution, &PlanExecution::failureNoted, this, &UpdateWorkflow::noteFailure);
    connect(execution, &PlanExecution::messageRequested, this, &WorkflowNotifier::messageRequested);

    connect(workflowRegion, &WorkflowRegion::updatesAvailable, this, &UpdateWorkflow::updatesAvailable);
    connect(workflowRegion, &WorkflowRegion::noUpdatesAvailable, this, &UpdateWorkflow::noUpdatesAvailable);
    connect(workflowRegion, &WorkflowRegion::resumeRequested, this, &UpdateWorkflow::resumeRequested);
    connect(workflowRegion, &WorkflowRegion::planChanged, this, &WorkflowNotifier::planChanged);
    connect(workflowRegion, &WorkflowRegion::checkFailureChanged, this, &UpdateWorkflow::setCheckFailureText);
    connect(workflowRegion, &WorkflowRegion::failureNoted, this, &UpdateWorkflow::noteFailure);
    connect(workflowRegion, &WorkflowRegion::messageRequested, this, &WorkflowNotifier::messageRequested);
}

void UpdateWorkflow::createStateMachine()
{
    // The regions follow the device, the workflow and the updater check side by side, with any
    // region a face adds. Qt refuses a machine that is itself parallel, so one parallel state holds
    // the regions. Parented to the workflow, so that it can be found among its face's children.
    stateMachine.setParent(this);
    stateMachine.setObjectName(QStringLiteral("stateMachine"));
    regionsState = newState(WorkflowStates::regions, &stateMachine);
    regionsState->setChildMode(QState::ParallelStates);
    stateMachine.setInitialState(regionsState);

    selection->buildRegion(regionsState);
    QState* ownWorkflowRegion = workflowRegion->build(regionsState);
    appCheck->buildRegion(regionsState);
    ownRegions = { ownWorkflowRegion, state(WorkflowStates::appUpdateRegion) };
    endReport->followUpdate(regionsState);
    connect(execution, &PlanExecution::updateFinished, endReport,
        [this] { endReport->nameOutcome(UpdateOutcome::Done); });
    connect(execution, &PlanExecution::componentNotApplied, endReport,
        [this] { endReport->nameOutcome(UpdateOutcome::NotApplied); });
    connect(selection, &DeviceSelection::foreignDeviceReturned, endReport,
        [this] { endReport->nameOutcome(UpdateOutcome::Stopped); });

    // Tells the face of every state entered; connected last, after the workflow's own steps.
    const auto states = stateMachine.findChildren<QState*>();
    for (QState* entered : states) {
        connect(
            entered, &QState::entered, this, [this, entered] { emit stateEntered(entered->objectName()); },
            Qt::DirectConnection);
    }
    workflowRegion->connectPhases([this](WorkflowPhase phase) {
        currentPhase = phase;
        emit phaseChanged(phase);
    });
    endReport->reportWhenResting(regionsState);
}

void UpdateWorkflow::start()
{
    // A face's regions follow the device region and come before the workflow's own, so that they
    // show a device before the workflow acts on it.
    for (QState* region : qAsConst(ownRegions)) {
        region->setParent(nullptr);
        region->setParent(regionsState);
    }

    // An install the last run could not record, killed or cut off by a power loss.
    attempts.recordLeftOpen();

    // The machine's first step runs once the event loop does.
    stateMachine.start();
    deviceMonitor->start();

    // The check for a newer updater that runs at start-up reports nothing unless it finds one.
    appCheck->beginSilently();
}

QState* UpdateWorkflow::state(const char* name) const
{
    QState* found = stateMachine.findChild<QState*>(QLatin1String(name));
    Q_ASSERT_X(found, "UpdateWorkflow::state", name);
    if (!found)
        qCritical() << "UpdateWorkflow: no state named" << name;
    return found;
}

void UpdateWorkflow::setDeviceWaitLimits(int rebootReturnMs, int answerMs)
{
    selection->setWaitLimits(rebootReturnMs, answerMs);
}

void UpdateWorkflow::setSlowServerBounds(int graceMsecs, qint64 minimumRate, int checkMsecs, int fileMsecs)
{
    updateManager->setSlowServerBounds(graceMsecs, minimumRate, checkMsecs);
    downloadAgent->setSlowServerBounds(graceMsecs, minimumRate, fileMsecs);
}

int UpdateWorkflow::rebootReturnLimit() const
{
    return selection->rebootReturnLimit();
}
int UpdateWorkflow::deviceAnswerLimit() const
{
    return selection->deviceAnswerLimit();
}

void UpdateWorkflow::setQuestions(WorkflowQuestions* asked)
{
    questions = asked;
    selection->setQuestions(asked);
    appCheck->setQuestions(asked);
}

void UpdateWorkflow::setSleepPreventer(SleepPreventer* preventer)
{
    execution->setSleepPreventer(preventer);
}

std::optional<ComponentType> UpdateWorkflow::platformApplicationType()
{
    return AppUpdateCheck::platformApplicationType();
}

void UpdateWorkflow::setAppPackageType(std::optional<ComponentType> type)
{
    appCheck->setPackageType(type);
}

const InstallSummary& UpdateWorkflow::installSummary() const
{
    return execution->summary();
}

bool UpdateWorkflow::allowedByPower(const UpdateEstimate& planned)
{
    if (powerCheck->allows(planned, questions))
        return true;
    noteFailure(UpdateFailure::Power);
    return false;
}

DownloadFailure UpdateWorkflow::lastDownloadFailure() const
{
    return downloadAgent->failureKind();
}
LinkResult UpdateWorkflow::lastDeviceFailure() const
{
    return selection->lastFailure();
}
DeviceInfo UpdateWorkflow::deviceInfo() const
{
    return selection->deviceInfo();
}
bool UpdateWorkflow::hasDevice() const
{
    return selection->agent() != nullptr;
}
std::optional<Connection> UpdateWorkflow::selectedConnection() const
{
    return selection->selectedConnection();
}
bool UpdateWorkflow::deviceAccessDenied() const
{
    return selection->accessDenied();
}
QString UpdateWorkflow::deviceAccessWaitingText() const
{
    return selection->accessWaitingText();
}
QList<Connection> UpdateWorkflow::connections() const
{
    return deviceMonitor->connections();
}
void UpdateWorkflow::setPreferredSerial(const QString& serialNumber)
{
    selection->setPreferredSerial(serialNumber);
}
QString UpdateWorkflow::preferredSerial() const
{
    return selection->preferredSerial();
}
QList<Component> UpdateWorkflow::plan() const
{
    return currentPlan.components();
}
QStringList UpdateWorkflow::planWarnings() const
{
    return currentPlan.warnings();
}
QDateTime UpdateWorkflow::lastChecked() const
{
    return currentPlan.lastChecked();
}
bool UpdateWorkflow::isCatalogueVerified() const
{
    return currentPlan.isSourceVerified();
}
bool UpdateWorkflow::isUpdating() const
{
    return currentPlan.currentIndex() >= 0;
}
bool UpdateWorkflow::isFetchingManifest() const
{
    return currentPlan.isFetching();
}
UpdateHistory& UpdateWorkflow::history()
{
    return attempts.history();
}

std::optional<UpdateJournal> UpdateWorkflow::interruptedUpdate() const
{
    const std::optional<Connection> selected = selectedConnection();
    if (!selected || isUpdating())
        return std::nullopt;
    std::optional<UpdateJournal> journal = UpdateJournal::read(execution->journalFile());
    if (journal && !journal->isFor(*selected))
        journal.reset();
    return journal;
}

bool UpdateWorkflow::isTransferring() const
{
    const QState* installing = state(WorkflowStates::installingState);
    return installing && installing->active();
}

QList<DiagnosticsDevice> UpdateWorkflow::diagnosticsDevices() const
{
    const std::optional<Connection> selected = selectedConnection();
    const bool ready
        = state(WorkflowStates::deviceReadyState) && state(WorkflowStates::deviceReadyState)->active();
    QList<DiagnosticsDevice> devices;
    for (const Connection& connection : deviceMonitor->connections()) {
        DiagnosticsDevice device { connection, std::nullopt };
        if (ready && selected && selected->serialNumber == connection.serialNumber
            && selected->path == connection.path)
            device.info = deviceInfo();
        devices.append(device);
    }
    return devices;
}

// The component whose file could not be fetched: the batch's failed request, or the component of
// the download step.
void UpdateWorkflow::recordDownloadFailure()
{
    if (const Component* failed = downloads->failedComponent()) {
        attempts.record(
            InstallAttemptRecorder::attemptFor(*failed, selection->deviceWorkedOn(), deviceInfo(), false),
            UpdateHistoryEntry::DownloadFailed);
    }
}

// A command is told to the workflow's listeners, and then moves the region, as a face's listeners
// hear it before the machine's transitions.
void UpdateWorkflow::checkForUpdates()
{
    emit checkUpdatesRequest();
    workflowRegion->requestCheck();
}

void UpdateWorkflow::cancelCheck()
{
    // The start-up check of the updater's own version shares the request; it ends with it.
    if (isFetchingManifest())
        updateManager->cancel();
}
void UpdateWorkflow::setPowerStatus(PowerStatus* status)
{
    powerCheck->setStatus(status);
}

int UpdateWorkflow::connectedModel() const
{
    return selection->agent() ? selection->agent()->connection().model : Plus;
}

UpdateEstimate UpdateWorkflow::estimate() const
{
    return UpdateEstimate::forPlan(currentPlan.components(), connectedModel());
}

QString UpdateWorkflow::powerWarning(const UpdateEstimate& planned)
{
    return powerCheck->warning(planned);
}

void UpdateWorkflow::startUpdate()
{
    // Asked before the first byte is sent, and only when the update would begin: first whether a
    // catalogue no trusted key signed may be installed from, then the power. A question declined
    // leaves the list as it was, with nothing sent. The phase, not the state's activity: a face
    // may start the update from the phase's own signal, while the state is still being entered.
    if (currentPhase == WorkflowPhase::Planned
        && (!unsignedConsent.allows(currentPlan.isSourceVerified(), questions)
            || !allowedByPower(estimate())))
        return;
    emit updateStartRequested();
    workflowRegion->requestStart();
}
void UpdateWorkflow::listAllComponents()
{
    emit forceInstallAllComponentsRequest();
    workflowRegion->requestAllComponents();
}
void UpdateWorkflow::checkAppUpdates()
{
    appCheck->request();
}
void UpdateWorkflow::forgetDevice()
{
    selection->forgetDevice();
}

void UpdateWorkflow::answerAppUpdate(bool accepted)
{
    appCheck->answer(accepted);
}

void UpdateWorkflow::installComponentFromFile(ComponentType type)
{
    if (!questions)
        return;
    const QString path = questions->openFileName(QStringLiteral("Select %1").arg(componentTypeName(type)),
        QDir::homePath(), LocalInstallRules::fileFilter(type));
    if (path.isEmpty())
        return;
    installFile(type, path);
}

bool UpdateWorkflow::installFile(ComponentType type, const QString& path)
{
    const qint64 size = QFileInfo(path).size();
    const DeviceInfo info = deviceInfo();
    const std::optional<LocalInstallRefusal> refused
        = LocalInstallRules::refusal(type, path, size, hasDevice() ? &info : nullptr);
    if (refused) {
        noteFailure(UpdateFailure::File);
        if (questions)
            questions->critical(refused->title, refused->text);
        return false;
    }
    // A catalogue read in this run (the last one accepted, whatever checks failed since) may know
    // the file as something else: the other model's firmware, another component's data.
    const QByteArray digest = QByteArray::fromHex(InstallAttemptRecorder::fileDigest(path).toLatin1());
    const std::optional<LocalInstallRefusal> misnamed = LocalInstallRules::catalogueRefusal(
        type, digest, updateManager->lastAcceptedCatalogue(), hasDevice() ? &info : nullptr);
    if (misnamed) {
        noteFailure(UpdateFailure::File);
        if (questions)
            questions->critical(misnamed->title, misnamed->text);
        return false;
    }

    Component component;
    component.type = type;
    component.localPath = path;
    component.size = size;
    component.downloadedSha256 = digest;
    if (!allowedByPower(UpdateEstimate::forPlan({ component }, connectedModel())))
        return false;
    currentPlan.setSingle(component);

    qDebug() << "About to upload" << componentTypeName(type) << "from:" << path;
    emit forceInstallComponentRequest();
    workflowRegion->requestInstall();
    return true;
}

bool UpdateWorkflow::useBundle(const QString& path, QString* error)
{
    auto bundle = std::make_shared<UpdateBundle>();
    if (!bundle->open(path, error)) {
        qCritical().noquote() << "UpdateWorkflow:" << *error;
        return false;
    }
    updateManager->useBundle(std::move(bundle));
    return true;
}

void UpdateWorkflow::useOnlineCatalogue()
{
    bundleCheckPending = false;
    updateManager->useNetwork();
}

bool UpdateWorkflow::isUsingBundle() const
{
    return updateManager->bundle() != nullptr;
}

bool UpdateWorkflow::installBundle(const QString& path)
{
    // The files of a running update are not taken from under it.
    if (isUpdating()) {
        if (questions)
            questions->critical(QStringLiteral("Update Bundle"),
                QStringLiteral("An update is running; open the update bundle once it has ended."));
        return false;
    }
    QString error;
    if (!useBundle(path, &error)) {
        if (questions)
            questions->critical(QStringLiteral("Update Bundle Refused"),
                error + QStringLiteral("\n\nNothing was sent to the device."));
        return false;
    }
    if (currentPhase == WorkflowPhase::Idle || currentPhase == WorkflowPhase::Planned)
        checkForUpdates();
    else
        bundleCheckPending = true;
    return true;
}

void UpdateWorkflow::installBundleFromFile()
{
    if (!questions)
        return;
    const QString path = questions->openFileName(QStringLiteral("Select Update Bundle"), QDir::homePath(),
        QStringLiteral("Update bundles (*.tar *.tar.gz *.tgz *.tar.xz);;All files (*)"));
    if (!path.isEmpty())
        installBundle(path);
}

bool UpdateWorkflow::finishInterruptedUpdate()
{
    const std::optional<UpdateJournal> stopped = interruptedUpdate();
    if (!stopped || !state(WorkflowStates::idleState)->active())
        return false;
    const std::optional<JournalResume::Remaining> left
        = JournalResume::remaining(*stopped, execution->journalFile());
    if (!left) {
        qCritical() << "UpdateWorkflow: The stopped update cannot be finished from its kept files; "
                       "checking for updates instead.";
        checkForUpdates();
        return false;
    }
    if (!allowedByPower(UpdateEstimate::forPlan(left->plan, connectedModel())))
        return false;
    resume->prepare(*stopped, *left);
    emit forceInstallComponentRequest();
    workflowRegion->requestInstall();
    return true;
}

void UpdateWorkflow::dropInterruptedUpdate()
{
    if (interruptedUpdate())
        JournalResume::drop(execution->journalFile());
}

void UpdateWorkflow::editManifestUrl()
{
    ConfigurationManager* configuration = ConfigurationManager::instance();
    if (!configuration) {
        qCritical() << "MainWindow: No configuration to keep the manifest URL in.";
        return;
    }
    if (!questions)
        return;

    QString text = configuration->manifestUrl().toString();
    for (;;) {
        bool accepted = false;
        text = questions->textInput(QStringLiteral("Set Manifest URL"),
            QStringLiteral("Please enter the URL of the update manifest file."), text, &accepted);
        if (!accepted)
            return;
        if (text.isEmpty()) {
            configuration->resetManifestUrl();
            return;
        }
        const QUrl url = QUrl::fromUserInput(text);
        if (url.isValid()) {
            configuration->setManifestUrl(url);
            return;
        }
        questions->critical(QStringLiteral("Invalid Manifest URL"),
            QStringLiteral("The entered text is not a valid URL. Please enter a valid URL."));
    }
}

} // namespace PelkPlus
