#pragma once

#include "app/SemanticVersion.h"
#include "app/UpdateHistory.h"
#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "device/LinkResult.h"
#include "update/DownloadFailure.h"
#include "update/Component.h"
#include "workflow/CatalogueConsent.h"
#include "workflow/DeviceSelection.h"
#include "workflow/DiagnosticsReport.h"
#include "workflow/InstallAttemptRecorder.h"
#include "workflow/InstallSummary.h"
#include "workflow/InstallVerifier.h"
#include "workflow/UpdateEstimate.h"
#include "workflow/UpdateFailure.h"
#include "workflow/UpdateJournal.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/WorkflowNotifier.h"
#include "workflow/WorkflowPlan.h"

#include <QDateTime>
#include <QList>
#include <QStateMachine>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <optional>

class QState;

namespace PelkPlus {

class AppUpdateCheck;
class ComponentDownloads;
class JournalResume;
class DeviceMonitor;
class DownloadAgent;
class PowerCheck;
class PowerStatus;
class UpdateProgressClock;
class PlanExecution;
class SleepPreventer;
class UpdateEndReport;
class UpdateManager;
class WorkflowQuestions;
class WorkflowRegion;

// The update workflow without a face: it owns the device monitor and agent, the update manager, the
// component downloads and the sleep preventer, plans an update from the manifest and carries it
// out. Its state machine has the device, workflow and updater-check regions; a face may add regions
// of its own to regions() before start(), and drives the workflow through the commands below.
//
// The argument-less signals are the workflow's steps, passed on from the helpers that make them (the
// machine moves on the helpers' own signals); what a face shows comes through the signals of
// WorkflowNotifier.
class UpdateWorkflow : public WorkflowNotifier
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateWorkflow)

public:
    explicit UpdateWorkflow(QObject* parent = nullptr);
    ~UpdateWorkflow() override;

    // Starts the state machine (its first step runs once the event loop does) and the device
    // monitor.
    void start();

    // Answers the workflow's questions; not owned, and must outlive the workflow's use of it.
    void setQuestions(WorkflowQuestions* questions);
    WorkflowQuestions* workflowQuestions() const { return questions; }
    // Replaces the platform's sleep preventer; the workflow takes ownership.
    void setSleepPreventer(SleepPreventer* preventer);
    // Replaces the platform's power status, read before an update begins; the workflow takes
    // ownership.
    void setPowerStatus(PowerStatus* status);
    // How long the plan takes on the connected device, and why the computer should be plugged in
    // before it (empty when its power is fine or not known).
    UpdateEstimate estimate() const;
    QString powerWarning(const UpdateEstimate& planned);
    // The whole update's progress and time left while it runs.
    UpdateProgressClock* progressClock() const { return clock; }
    // The manifest's component type of the updater for this platform; none where the manifest
    // has no package for it, and then no newer updater is ever offered.
    void setAppPackageType(std::optional<ComponentType> type);
    static std::optional<ComponentType> platformApplicationType();

    // The machine's parallel state holding the regions, and any of its states by object name (one
    // of WorkflowStates); an unknown name fails an assertion in a debug build and gives null.
    QState* regions() const { return regionsState; }
    QState* state(const char* name) const;
    // The phase of the workflow region's state entered last.
    WorkflowPhase phase() const { return currentPhase; }

    // The connected device's record; an empty one while no device is ready.
    DeviceInfo deviceInfo() const;
    bool hasDevice() const;
    // The device selected now; none while no agent exists.
    std::optional<Connection> selectedConnection() const;
    // The devices on USB, with the versions of the one selected and ready, for a report.
    QList<DiagnosticsDevice> diagnosticsDevices() const;
    // The plan of the last check, its warnings and the manifest's time; invalid before a check.
    QList<Component> plan() const;
    QStringList planWarnings() const;
    QDateTime lastChecked() const;
    // Whether the catalogue the plan rests on was signed by a trusted key; false while no key is
    // trusted, which the faces say beside the plan.
    bool isCatalogueVerified() const;
    // Consent, given before any update, to install from a catalogue no trusted key signed; without
    // it the workflow asks as such an update starts, and nothing is sent unless the answer is Yes.
    void setUnsignedCatalogueAllowed(bool allowed) { unsignedConsent.setStanding(allowed); }
    bool isUnsignedCatalogueAllowed() const { return unsignedConsent.isStanding(); }
    // Whether a component of the update is being worked on.
    bool isUpdating() const;
    // Whether a file is being sent to the device: stopping now may leave it unusable until it is
    // updated again.
    bool isTransferring() const;
    // Whether the last connection failed because this account may not open the device's node.
    bool deviceAccessDenied() const;
    // The lasting text to show while the device on the bus stays refused; empty when it is not.
    QString deviceAccessWaitingText() const;

    // The devices of the family on USB at the monitor's last poll; devicesScanned() tells of each poll.
    QList<Connection> connections() const;
    // Only the device with this serial number is selected; empty for the first one found.
    void setPreferredSerial(const QString& serialNumber);
    QString preferredSerial() const;
    // The record of every install attempt; tests point it elsewhere before an update.
    UpdateHistory& history();
    // The journal of an update of the selected device that stopped before its end; none while
    // there is none, or while an update runs.
    std::optional<UpdateJournal> interruptedUpdate() const;

    // Why the device last failed (LinkOk before any failure), and what kind of failure ended the
    // last component download; read after deviceFailure or downloadFailure.
    LinkResult lastDeviceFailure() const;
    DownloadFailure lastDownloadFailure() const;

    // Why the last update, check or refused start failed; None after an update that ended well.
    // The engine's steps note it before they tell the failure, so that a face reading it while it
    // shows the message finds the failure's own kind.
    UpdateFailure lastFailure() const { return failureKind; }
    void noteFailure(UpdateFailure failure) { failureKind = failure; }
    // What the last update did to the device; read once it has ended.
    const InstallSummary& installSummary() const;
    // What the last failed check said, the next step included; empty after one that did not fail.
    QString checkFailureText() const { return checkFailure; }
    void setCheckFailureText(const QString& text) { checkFailure = text; }

    // Whether the manifest is being fetched for a check of the device's updates.
    bool isFetchingManifest() const;

    // How long a device found on the bus may take to answer its header, and the pause before a
    // device that answered wrongly is asked again (DeviceSelection).
    static constexpr int deviceAnswerTimeoutMs = DeviceSelection::deviceAnswerTimeoutMs;
    static constexpr int reconnectDelayMs = DeviceSelection::reconnectDelayMs;
    // The two bounds of the waits for a device to answer; tests shorten them.
    void setDeviceWaitLimits(int rebootReturnMs, int answerMs);
    // The slow-server bounds: a request's grace and minimum rate, the whole check's bound and the
    // bound of each component file (below the one its size gives it); tests shorten them.
    void setSlowServerBounds(int graceMsecs, qint64 minimumRate, int checkMsecs, int fileMsecs);
    int rebootReturnLimit() const;
    int deviceAnswerLimit() const;

public slots:
    // Commands of a face.
    void checkForUpdates();
    // Ends the check under way at once, its requests aborted: the workflow rests where a check
    // can be started again, with nothing told. Nothing happens when no check runs.
    void cancelCheck();
    void startUpdate();
    void listAllComponents();
    void checkAppUpdates();
    void answerAppUpdate(bool accepted);
    // Asks for a file of the type and installs it after a check of its name.
    void installComponentFromFile(ComponentType type);
    // Installs the file as a component of the type; false, after telling why, when its name does
    // not fit the type.
    bool installFile(ComponentType type, const QString& path);
    // An update bundle's catalogue and files take the network's place from the next check on (the
    // start-up one too, when given before start()); false, with why, when the bundle is refused.
    bool useBundle(const QString& path, QString* error);
    // The catalogue is fetched over the network again.
    void useOnlineCatalogue();
    bool isUsingBundle() const;
    // Opens the bundle and checks the device's updates from it, at once or as soon as a device is
    // ready; a refused bundle is told, and nothing is sent.
    bool installBundle(const QString& path);
    // Asks for a bundle file and installs from it.
    void installBundleFromFile();
    // Finishes the interrupted update of the device from the files its journal kept, with no
    // network; false when it is not begun: the power question was declined, there is none, or a
    // kept file no longer has its digest, and then a check for updates is started instead.
    bool finishInterruptedUpdate();
    // Forgets the interrupted update of the device, with its kept files.
    void dropInterruptedUpdate();
    // Asks for the manifest's URL until a valid one or none is given, and keeps it.
    void editManifestUrl();
    void forgetDevice();

signals:
    void deviceConnected();
    void deviceReady();
    void deviceNotReadyForUpdate();
    void deviceReadyForUpdate();
    void deviceDisconnected();
    void deviceReadyToReboot();
    void deviceDone();
    void checkUpdatesRequest();
    void updatesAvailable();
    void noUpdatesAvailable();
    void forceInstallComponentRequest();
    void forceInstallAllComponentsRequest();
    void componentSelected();
    void componentDownloadSkipped();
    void updateFinished();
    void checkAppUpdatesRequest();
    void appUpdatesConfirmed();
    void appUpdatesRejected();
    void deviceFailure();
    void downloadFailure();
    void installFailure();
    // A device can be selected: the monitor lists one the workflow may work with now.
    void deviceAvailable();
    // Only another device came back during an update; nothing is sent to it.
    void foreignDeviceReturned();
    // The device came back without the component it was sent.
    void componentNotApplied();
    // Some files of the plan are still to be downloaded; all are fetched and verified before the
    // first component goes to the device.
    void downloadsRequired();
    // The device opened but did not answer its header within deviceAnswerLimit().
    void deviceSilent();
    // The device being updated did not come back ready within rebootReturnLimit().
    void rebootWaitExpired();
    // The device whose update ended while it restarted is back: what is left is planned again.
    void resumeRequested();

private:
    void createStateMachine();
    void connectHelperSignals();
    void recordDownloadFailure();
    // Whether the power allows an update of this estimate, asked where it must be; a refusal is
    // noted as the failure.
    bool allowedByPower(const UpdateEstimate& planned);
    // The model of the device connected now; a Pelk+ while none is.
    int connectedModel() const;

    QStateMachine stateMachine;
    QState* regionsState = nullptr;
    QList<QState*> ownRegions;
    DeviceMonitor* deviceMonitor = nullptr;
    UpdateManager* updateManager = nullptr;
    DownloadAgent* downloadAgent = nullptr;
    WorkflowQuestions* questions = nullptr;
    WorkflowPlan currentPlan;
    InstallAttemptRecorder attempts;
    DeviceSelection* selection = nullptr;
    AppUpdateCheck* appCheck = nullptr;
    ComponentDownloads* downloads = nullptr;
    PlanExecution* execution = nullptr;
    JournalResume* resume = nullptr;
    WorkflowRegion* workflowRegion = nullptr;
    UpdateEndReport* endReport = nullptr;
    PowerCheck* powerCheck = nullptr;
    CatalogueConsent unsignedConsent;
    UpdateProgressClock* clock = nullptr;
    // A bundle was opened while no device could be checked: the check waits for one.
    bool bundleCheckPending = false;
    WorkflowPhase currentPhase = WorkflowPhase::NoDevice;
    UpdateFailure failureKind = UpdateFailure::None;
    QString checkFailure;
};

} // namespace PelkPlus
