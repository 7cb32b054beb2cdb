#pragma once

#include "app/SemanticVersion.h"
#include "app/UpdateHistory.h"
#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "device/LinkResult.h"
#include "update/DownloadFailure.h"
#include "update/Component.h"
#include "workflow/DiagnosticsReport.h"
#include "workflow/InstallVerifier.h"
#include "workflow/UpdateEstimate.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/WorkflowNotifier.h"

#include <QDateTime>
#include <QList>
#include <QStateMachine>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <optional>

class QState;

namespace PelkPlus {

class DeviceAgent;
class DeviceMonitor;
class DownloadAgent;
class PowerCheck;
class PowerStatus;
class SleepPreventer;
class UpdateManager;
class UpdateProgressClock;
class WorkflowQuestions;

// The update workflow without a face: it owns the device monitor and agent, the update manager, the
// component downloads and the sleep preventer, plans an update from the manifest and carries it
// out. Its state machine has the device, workflow and updater-check regions; a face may add regions
// of its own to regions() before start(), and drives the workflow through the commands below.
//
// The argument-less signals are the workflow's steps, the events its state machine moves on; what
// a face shows comes through the signals of WorkflowNotifier.
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
    QState* regions() const { return m_regions; }
    QState* state(const char* name) const;
    // The phase of the workflow region's state entered last.
    WorkflowPhase phase() const { return currentPhase; }

    // The connected device's record; an empty one while no device is ready.
    DeviceInfo deviceInfo() const;
    bool hasDevice() const { return deviceAgent != nullptr; }
    // The device selected now; none while no agent exists.
    std::optional<Connection> selectedConnection() const;
    // The devices on USB, with the versions of the one selected and ready, for a report.
    QList<DiagnosticsDevice> diagnosticsDevices() const;
    // The plan of the last check, its warnings and the manifest's time; invalid before a check.
    QList<Component> plan() const { return updatePlan; }
    QStringList planWarnings() const { return warnings; }
    QDateTime lastChecked() const { return lastCheckTime; }
    // Whether the catalogue the plan rests on was signed by a trusted key; false while no key is
    // trusted, which the faces say beside the plan.
    bool isCatalogueVerified() const { return plannedFromVerified; }
    // Whether a component of the update is being worked on.
    bool isUpdating() const { return currentComponent >= 0; }
    // Whether a file is being sent to the device: stopping now may leave it unusable until it is
    // updated again.
    bool isTransferring() const;
    // Whether the last connection failed because this account may not open the device's node.
    bool deviceAccessDenied() const { return accessDeniedPath.has_value(); }

    // The devices of the family on USB at the monitor's last poll; devicesScanned() tells of each poll.
    QList<Connection> connections() const;
    // Only the device with this serial number is selected; empty for the first one found.
    void setPreferredSerial(const QString& serialNumber);
    QString preferredSerial() const { return m_preferredSerial; }
    // The record of every install attempt; tests point it elsewhere before an update.
    UpdateHistory& history() { return m_history; }

    // Why the device last failed (LinkOk before any failure), and what kind of failure ended the
    // last component download; read after deviceFailure or downloadFailure.
    LinkResult lastDeviceFailure() const { return deviceFailureResult; }
    DownloadFailure lastDownloadFailure() const;

    // Whether the manifest is being fetched for a check of the device's updates.
    bool isFetchingManifest() const { return fetchingManifest; }

    // How long the device being updated may take to come back ready after it dropped off the bus;
    // it restarts in 2 to 4 seconds, so a minute is generous and still ends a wait that would not.
    static constexpr int rebootReturnTimeoutMs = 60000;
    // How long a device found on the bus may take to answer its header. Each attempt waits 2 s for
    // the answer; a device that has just been plugged in or restarted answers within a few, and a
    // script's connect limit (pelk-cli's 30 s) is not outlived by the window's own wait.
    static constexpr int deviceAnswerTimeoutMs = 30000;
    // A device that answered its header wrongly is asked again after this pause, quietly.
    static constexpr int reconnectDelayMs = 5000;
    // The two bounds of the waits for a device to answer; tests shorten them.
    void setDeviceWaitLimits(int rebootReturnMs, int answerMs);
    int rebootReturnLimit() const { return rebootReturnLimitMs; }
    int deviceAnswerLimit() const { return deviceAnswerLimitMs; }

public slots:
    // Commands of a face.
    void checkForUpdates();
    void startUpdate();
    void listAllComponents();
    void checkAppUpdates();
    void answerAppUpdate(bool accepted);
    // Asks for a file of the type and installs it after a check of its name.
    void installComponentFromFile(ComponentType type);
    // Installs the file as a component of the type; false, after telling why, when its name does
    // not fit the type.
    bool installFile(ComponentType type, const QString& path);
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
    void startUpdateRequest();
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

private slots:
    // Device selection and update planning.
    void selectDevice();
    void onDeviceReady(const DeviceInfo& info);
    void onDeviceDisconnected();
    void onDeviceFailure();
    void resetUpdatePlan();
    void startUpdateCheck();
    void planUpdate(bool forceAll);

    // Carrying out an update.
    void beginUpdate();
    void selectNextComponent();
    void downloadComponent();
    void downloadAllComponents();
    void awaitUpdateMode();
    void onDownloadStarted(int request);
    void onDownloadProgress(int request, float fraction);
    void onComponentDownloaded(int request, const QByteArray& digest);
    void onDownloadFinished();
    void startRebootTimer();
    void requestPowerCycle();
    void onInstallProgress(float fraction, long total);
    void abortComponentDownload();
    // The computer is kept awake exactly while updatingState is active, however it is left.
    void enableSleepPrevention();
    void disableSleepPrevention();

    // The updater's own version.
    void evaluateAppUpdate();
    void openAppUpdateUrl();

private:
    void createStateMachine();
    void showMessage(MessageKind kind, const QString& title, const QString& text);
    Component* currentPlanEntry();
    // The monitor's connections that selection may take: all of them, or the preferred one.
    QList<Connection> selectableConnections() const;
    // The connection the workflow may select now: during an update only the device being updated.
    std::optional<Connection> selectableConnection() const;
    void offerListedDevice();
    // After a component's reboot: false, after stopping the update, when the device did not take it.
    bool verifyInstalledComponent();
    void stopForForeignDevice(const Connection& foreign);
    // The history's record of installing the component on the device now selected (or being
    // updated); the image's digest is taken from its file when hashFile is set.
    UpdateHistoryEntry attemptFor(const Component& component, bool hashFile) const;
    void recordAttempt(UpdateHistoryEntry entry, UpdateHistoryEntry::Outcome outcome);
    // Closes the attempt of the file last sent, if it is still open.
    void closeAttempt(UpdateHistoryEntry::Outcome outcome);
    void recordDownloadFailure();
    // Tells updateEnded once, when an update has ended and the workflow rests again.
    void reportUpdateEnd();

    SemanticVersion appVersion;
    QStateMachine stateMachine;
    QState* m_regions = nullptr;
    QList<QState*> m_ownRegions;
    DeviceMonitor* deviceMonitor = nullptr;
    DeviceAgent* deviceAgent = nullptr;
    UpdateManager* updateManager = nullptr;
    DownloadAgent* downloadAgent = nullptr;
    QStringList warnings;
    QDateTime lastCheckTime;
    QList<Component> updatePlan;
    int currentComponent = -1;
    // The device's product's components and the manifest's time from the check that made the plan,
    // so that a re-plan does not depend on manifest data that another check may have cleared.
    std::optional<QList<Component>> plannedFrom;
    QDateTime plannedFromTime;
    bool plannedFromVerified = false;
    bool fetchingManifest = false;
    bool freshManifest = false;
    // The device being updated, found again by serial number and model after each reboot.
    std::optional<Connection> updatingDevice;
    // Whether a component download of the current step is under way; a finished of any other
    // batch moves nothing.
    bool componentDownloadRunning = false;
    // The plan entries of the running download batch, by request; empty outside it.
    QList<int> batchEntries;
    int batchFileShown = -1;
    // A component was sent and the device confirmed it; checked when the device is back.
    bool verificationDue = false;
    QString versionBeforeInstall;
    DeviceInfo deviceBeforeInstall;
    // A failed connection is tried again only on the monitor's next connection.
    bool offerSuppressed = false;
    // The monitor saw the agent's node go, and then a connection come while the agent still
    // existed: the device region was not waiting for it, so it is offered when the region is.
    bool agentNodeGone = false;
    bool connectionAfterLoss = false;
    // The node of the last failed connection, when this account may not open it.
    std::optional<QString> accessDeniedPath;
    QTimer rebootTimer;
    QTimer answerTimer;
    QTimer rebootWaitTimer;
    QTimer reconnectTimer;
    int rebootReturnLimitMs = rebootReturnTimeoutMs;
    int deviceAnswerLimitMs = deviceAnswerTimeoutMs;
    // "Connection Failure" was told for the device on the bus now; not again until it is ready or
    // plugged in again.
    bool connectFailureTold = false;
    // The device whose update ended while it restarted; when it is selected again, what is left of
    // its update is planned again from the same check.
    std::optional<Connection> resumeDevice;
    QUrl appUpdateUrl;
    bool silentAppUpdateCheck = false;
    SleepPreventer* sleepPreventer = nullptr;
    PowerCheck* powerCheck = nullptr;
    UpdateProgressClock* clock = nullptr;
    WorkflowQuestions* questions = nullptr;
    QString m_preferredSerial;
    UpdateHistory m_history;
    // The attempt whose file went to the device and whose outcome is not known yet.
    std::optional<UpdateHistoryEntry> openAttempt;
    // Why the install just refused failed, for its message; empty for the usual text alone.
    QString installFailureDetail;
    std::optional<ComponentType> appPackageType = platformApplicationType();
    WorkflowPhase currentPhase = WorkflowPhase::NoDevice;
    LinkResult deviceFailureResult = LinkOk;
    // Between the entry of updatingState and the report of its end.
    bool updateRunning = false;
    // updatingState was left; the end is told once the workflow rests.
    bool updateEndDue = false;
    UpdateOutcome endingOutcome = UpdateOutcome::Failed;
};

} // namespace PelkPlus
