// The workflow's state machine on the engine alone: its tree and transitions as tables, and
// scenarios as rows of events in and the trail of states out, against simulated devices on the
// in-process bus and the catalogue on the loopback server.
#include "support/EngineFixture.h"
#include "device/DeviceProtocol.h"
#include "support/StateTrail.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QSignalTransition>
#include <QtTest>

#include <functional>

namespace PelkPlus {

// The fixture and the trail of its machine, watched from before the machine's first step.
struct MachineRun
{
    EngineFixture& f;
    StateTrail& trail;

    bool at(const char* state, int timeout = 15000) const
    {
        return QTest::qWaitFor([&] { return trail.isActive(QLatin1String(state)); }, timeout);
    }
    // A ready device on the selection page with the start-up updater check behind it.
    bool idle(int timeout = 15000) const
    {
        return QTest::qWaitFor(
            [&] {
                return trail.isActive(QLatin1String(WorkflowStates::idleState))
                    && trail.isActive(QLatin1String(WorkflowStates::appCheckIdleState));
            },
            timeout);
    }
    // Checked, one component planned, and the update started.
    bool started() const
    {
        if (!idle())
            return false;
        f.check();
        if (!at(WorkflowStates::readyToInstallState))
            return false;
        f.startUpdate();
        return true;
    }
    int manifestFetches() const { return f.server.requestCount(UpdateCatalogue::manifestPath(), "GET"); }
    void setDevice(const std::function<void(SimulatedDeviceSettings&)>& change) const
    {
        f.bus->run([change](DeviceBus& devices) { change(devices.device(0).settings()); });
    }
};

// A scenario's steps, asserting as they go.
using MachineScript = std::function<void(MachineRun&)>;
using DeviceList = QList<SimulatedDeviceSettings>;

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::MachineScript)

namespace PelkPlus {

namespace {

SimulatedDeviceSettings device(int model = Plus)
{
    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.path = model == Base ? QStringLiteral("sim/pelk-base") : QStringLiteral("sim/pelk-plus");
    settings.mcuWord = 0x0312;
    // Longer than one poll of the monitor, so that the drop is seen.
    settings.rebootMs = DeviceProtocol::scaled(1800);
    return settings;
}

QSet<QString> names(const QStringList& list)
{
    return QSet<QString>(list.begin(), list.end());
}

// The timer whose time-out takes the state to the target.
QTimer* timerOf(const UpdateWorkflow* workflow, const char* from, const char* to)
{
    const auto transitions = workflow->state(from)->transitions();
    for (QAbstractTransition* transition : transitions) {
        auto* signalTransition = qobject_cast<QSignalTransition*>(transition);
        if (signalTransition && signalTransition->targetState() == workflow->state(to))
            return qobject_cast<QTimer*>(signalTransition->senderObject());
    }
    return nullptr;
}

const QString rebootFailure = QStringLiteral(
    "Reboot Failure: The device failed to reboot after update.\n\nPlease unplug the device, wait five "
    "seconds and plug it in again. What is left of the update is then planned again.");

} // namespace

class tst_WorkflowStateMachine : public QObject
{
    Q_OBJECT

private slots:
    void stateTree_data();
    void stateTree();
    void transitions_data();
    void transitions();
    void scenario_data();
    void scenario();
};

void tst_WorkflowStateMachine::stateTree_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<bool>("initial");

    const QList<std::tuple<const char*, const char*, bool>> tree = {
        { "deviceRegion", "regions", false },
        { "noDeviceState", "deviceRegion", true },
        { "connectingState", "deviceRegion", false },
        { "deviceReadyState", "deviceRegion", false },
        { "workflowRegion", "regions", false },
        { "promptConnectState", "workflowRegion", true },
        { "promptWaitState", "workflowRegion", false },
        { "promptReplugState", "workflowRegion", false },
        { "activeDeviceState", "workflowRegion", false },
        { "selectionState", "activeDeviceState", true },
        { "idleState", "selectionState", true },
        { "nothingToInstallState", "idleState", true },
        { "readyToInstallState", "idleState", false },
        { "checkingState", "selectionState", false },
        { "fetchManifestState", "checkingState", false },
        { "planUpdateState", "checkingState", true },
        { "fetchManifestForceState", "checkingState", false },
        { "planForceInstallState", "checkingState", false },
        { "updatingState", "activeDeviceState", false },
        { "nextComponentState", "updatingState", true },
        { "downloadingState", "updatingState", false },
        { "downloadAllState", "updatingState", false },
        { "awaitUpdateModeState", "updatingState", false },
        { "installingState", "updatingState", false },
        { "installFailedState", "updatingState", false },
        { "awaitFinishState", "updatingState", false },
        { "rebootTimeoutState", "updatingState", false },
        { "awaitRebootState", "updatingState", false },
        { "appUpdateRegion", "regions", false },
        { "appCheckIdleState", "appUpdateRegion", false },
        { "appCheckRunningState", "appUpdateRegion", true },
        { "appCheckDoneState", "appUpdateRegion", false },
        { "appUpdateAcceptedState", "appUpdateRegion", false },
        { "appCheckFailedState", "appUpdateRegion", false },
    };
    for (const auto& [state, parent, initial] : tree)
        QTest::newRow(state) << QString::fromLatin1(state) << QString::fromLatin1(parent) << initial;
}

void tst_WorkflowStateMachine::stateTree()
{
    QFETCH(QString, state);
    QFETCH(QString, parent);
    QFETCH(bool, initial);

    UpdateWorkflow workflow;
    QState* found = workflow.state(state.toLatin1().constData());
    QVERIFY(found);
    QCOMPARE(found->parentState()->objectName(), parent);
    QCOMPARE(found->parentState()->initialState() == found, initial);
    // Only the holder of the regions runs its children side by side.
    QCOMPARE(found->childMode(), QState::ExclusiveStates);
    QCOMPARE(found->parentState()->childMode(),
        parent == QLatin1String("regions") ? QState::ParallelStates : QState::ExclusiveStates);
    QCOMPARE(found->machine()->findChildren<QState*>(state).size(), 1);
    QCOMPARE(workflow.regions()->objectName(), QStringLiteral("regions"));
}

void tst_WorkflowStateMachine::transitions_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("expected");

    // Each state's transitions in the order they are added: sender.signal>target, the sender named
    // by its object name or, where it has none, by its class.
    const QList<std::pair<const char*, QStringList>> table = {
        { "regions", {} },
        { "deviceRegion", {} },
        { "noDeviceState",
            { "DeviceMonitor.connected>connectingState",
                "DeviceSelection.deviceAvailable>connectingState" } },
        { "connectingState",
            { "DeviceSelection.deviceReady>deviceReadyState", "DeviceSelection.deviceFailure>noDeviceState",
                "DeviceSelection.deviceSilent>noDeviceState",
                "DeviceSelection.rebootWaitExpired>noDeviceState",
                "DeviceSelection.deviceDisconnected>noDeviceState",
                "DeviceSelection.foreignDeviceReturned>noDeviceState" } },
        { "deviceReadyState", { "DeviceSelection.deviceDisconnected>noDeviceState" } },
        { "workflowRegion", {} },
        { "promptConnectState", { "connectingState.entered>promptWaitState" } },
        { "promptWaitState",
            { "deviceReadyState.entered>activeDeviceState", "noDeviceState.entered>promptReplugState",
                "noDeviceState.entered>promptConnectState" } },
        { "promptReplugState",
            { "connectingState.entered>promptWaitState", "DeviceMonitor.disconnected>promptConnectState" } },
        { "activeDeviceState", { "noDeviceState.entered>promptConnectState" } },
        { "selectionState", {} },
        { "idleState",
            { "WorkflowRegion.forceInstallComponentRequest>updatingState",
                "WorkflowRegion.forceInstallAllComponentsRequest>fetchManifestForceState",
                "WorkflowRegion.resumeRequested>checkingState" } },
        { "nothingToInstallState", { "WorkflowRegion.checkUpdatesRequest>fetchManifestState" } },
        { "readyToInstallState",
            { "WorkflowRegion.checkUpdatesRequest>fetchManifestState",
                "WorkflowRegion.updateStartRequested>updatingState" } },
        { "checkingState",
            { "UpdateManager.failure>nothingToInstallState", "UpdateManager.cancelled>nothingToInstallState",
                "WorkflowRegion.updatesAvailable>readyToInstallState",
                "WorkflowRegion.noUpdatesAvailable>nothingToInstallState" } },
        { "fetchManifestState", { "UpdateManager.updateDiscoveryDone>planUpdateState" } },
        { "planUpdateState", {} },
        { "fetchManifestForceState", { "UpdateManager.updateDiscoveryDone>planForceInstallState" } },
        { "planForceInstallState", {} },
        { "updatingState", { "DeviceSelection.foreignDeviceReturned>promptConnectState" } },
        { "nextComponentState",
            { "PlanExecution.componentSelected>downloadingState",
                "PlanExecution.updateFinished>checkingState",
                "PlanExecution.componentNotApplied>checkingState",
                "PlanExecution.downloadsRequired>downloadAllState" } },
        { "downloadAllState",
            { "ComponentDownloads.downloadFailure>checkingState",
                "DownloadAgent.finished>nextComponentState" } },
        { "downloadingState",
            { "ComponentDownloads.downloadFailure>checkingState",
                "DownloadAgent.finished>awaitUpdateModeState",
                "ComponentDownloads.componentDownloadSkipped>awaitUpdateModeState" } },
        { "awaitUpdateModeState",
            { "DeviceSelection.deviceReadyForUpdate>installingState",
                "DeviceSelection.deviceFailure>installFailedState" } },
        { "installingState",
            { "DeviceSelection.deviceFailure>installFailedState",
                "PlanExecution.installFailure>installFailedState",
                "DeviceSelection.deviceDone>awaitFinishState" } },
        { "installFailedState", { ">checkingState" } },
        { "awaitFinishState",
            { "noDeviceState.entered>awaitRebootState", "QTimer.timeout>rebootTimeoutState" } },
        { "rebootTimeoutState", { "noDeviceState.entered>awaitRebootState" } },
        { "awaitRebootState",
            { "deviceReadyState.entered>nextComponentState", "noDeviceState.entered>(0 targets)",
                "noDeviceState.entered>promptReplugState", "noDeviceState.entered>promptConnectState",
                "DeviceSelection.rebootWaitExpired>promptReplugState" } },
        { "appUpdateRegion", {} },
        { "appCheckIdleState", { "AppUpdateCheck.checkAppUpdatesRequest>appCheckRunningState" } },
        { "appCheckRunningState",
            { "UpdateManager.updateDiscoveryDone>appCheckDoneState",
                "UpdateManager.failure>appCheckFailedState", "UpdateManager.cancelled>appCheckIdleState" } },
        { "appCheckDoneState",
            { "AppUpdateCheck.appUpdatesConfirmed>appUpdateAcceptedState",
                "AppUpdateCheck.appUpdatesRejected>appCheckIdleState" } },
        { "appUpdateAcceptedState", { ">appCheckIdleState" } },
        { "appCheckFailedState", { ">appCheckIdleState" } },
    };
    for (const auto& [state, expected] : table)
        QTest::newRow(state) << QString::fromLatin1(state) << expected;
}

void tst_WorkflowStateMachine::transitions()
{
    QFETCH(QString, state);
    QFETCH(QStringList, expected);

    UpdateWorkflow workflow;
    QState* source = workflow.state(state.toLatin1().constData());
    QVERIFY(source);
    QCOMPARE(StateTrail::transitionsOf(source), expected);
}

void tst_WorkflowStateMachine::scenario_data()
{
    QTest::addColumn<DeviceList>("devices");
    // The manifest's reply: its status, and how long the server holds it back.
    QTest::addColumn<int>("manifestStatus");
    QTest::addColumn<int>("manifestDelay");
    QTest::addColumn<MachineScript>("script");
    // The states entered since the script last cleared the trail, in this order, others between
    // them allowed; with exact set, nothing else.
    QTest::addColumn<QStringList>("entered");
    QTest::addColumn<bool>("exact");
    // States not entered since the last clear.
    QTest::addColumn<QStringList>("notEntered");
    // The state the machine rests in at the end.
    QTest::addColumn<QString>("rests");
    // How every message told begins, in order.
    QTest::addColumn<QStringList>("messages");
    // How often the computer was kept awake, and let sleep again.
    QTest::addColumn<int>("awake");

    const DeviceList none;
    const DeviceList one = { device() };

    QTest::newRow("start-up: the updater check runs behind the prompt")
        << none << 200 << 400 << MachineScript([](MachineRun& m) {
               // The start is queued: nothing is entered before the event loop runs.
               QVERIFY(m.trail.active().isEmpty());
               QVERIFY(m.trail.events().isEmpty());
               QTRY_VERIFY(m.trail.machine()->isRunning());
               const QStringList initial = { "regions", "deviceRegion", "noDeviceState", "workflowRegion",
                   "promptConnectState", "appUpdateRegion", "appCheckRunningState" };
               QCOMPARE(m.trail.active(), names(initial));
               QCOMPARE(m.f.phases, QList<WorkflowPhase> { WorkflowPhase::NoDevice });
               QCOMPARE(m.manifestFetches(), 0);
               QVERIFY(m.at(WorkflowStates::appCheckIdleState));
               QCOMPARE(m.manifestFetches(), 1);
           })
        << QStringList { "appCheckRunningState", "appCheckDoneState", "appCheckIdleState" } << false
        << QStringList { "connectingState", "appCheckFailedState" } << "promptConnectState" << QStringList()
        << 0;

    QTest::newRow("updater check fails silently at start-up, told when asked")
        << none << 404 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.at(WorkflowStates::appCheckIdleState));
               QVERIFY(m.trail.enteredInOrder(
                   { "appCheckRunningState", "appCheckFailedState", "appCheckIdleState" }));
               QVERIFY(m.f.messages.isEmpty());
               m.trail.clear();
               m.f.workflow()->checkAppUpdates();
               QTRY_VERIFY(!m.f.messages.isEmpty());
               QVERIFY(m.at(WorkflowStates::appCheckIdleState));
           })
        << QStringList { "appCheckRunningState", "appCheckFailedState", "appCheckIdleState" } << true
        << QStringList() << "appCheckIdleState"
        << QStringList { ": Failed to check for new version of Pelk Updater." } << 0;

    for (const int model : { int(Base), int(Plus) }) {
        QTest::addRow("connecting, then ready: model %d", model)
            << DeviceList { device(model) } << 200 << 0 << MachineScript([model](MachineRun& m) {
                   QSignalSpy connected(m.f.workflow(), &UpdateWorkflow::deviceConnected);
                   QVERIFY(m.idle());
                   QCOMPARE(connected.count(), 1);
                   const QStringList ready = { "regions", "deviceRegion", "deviceReadyState",
                       "workflowRegion", "activeDeviceState", "selectionState", "idleState",
                       "nothingToInstallState", "appUpdateRegion", "appCheckIdleState" };
                   QCOMPARE(m.trail.active(), names(ready));
                   QCOMPARE(m.f.workflow()->deviceInfo().model, model);
                   // Nothing is checked by itself: no plan, and the updater check's fetch alone.
                   QVERIFY(m.f.workflow()->plan().isEmpty());
                   QCOMPARE(m.manifestFetches(), 1);
               })
            << QStringList { "connectingState", "promptWaitState", "deviceReadyState", "activeDeviceState",
                   "selectionState", "idleState", "nothingToInstallState" }
            << false << QStringList { "promptReplugState", "checkingState" } << "nothingToInstallState"
            << QStringList() << 0;
    }

    QTest::newRow("unplugged on the selection page, then back")
        << one << 200 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.idle());
               m.f.check();
               QVERIFY(m.at(WorkflowStates::readyToInstallState));
               QCOMPARE(m.f.workflow()->plan().size(), 1);
               m.trail.clear();
               m.f.unplug();
               QVERIFY(m.at(WorkflowStates::promptConnectState));
               QVERIFY(m.trail.events().contains(QStringLiteral("-activeDeviceState")));
               QVERIFY(!m.f.workflow()->hasDevice());
               // Back again: a new agent, and the plan of the old one is gone.
               m.f.plug();
               QVERIFY(m.idle());
               QVERIFY(m.f.workflow()->plan().isEmpty());
           })
        << QStringList { "noDeviceState", "promptConnectState", "connectingState", "deviceReadyState",
               "nothingToInstallState" }
        << false << QStringList { "readyToInstallState" } << "nothingToInstallState" << QStringList() << 0;

    SimulatedDeviceSettings garbled = device();
    garbled.header = SimulatedHeaderBehaviour::BadSignature;
    QTest::newRow("connection fails, asked again after a pause, then taken up")
        << DeviceList { garbled } << 200 << 0 << MachineScript([](MachineRun& m) {
               QTRY_VERIFY_WITH_TIMEOUT(!m.f.messages.isEmpty(), 10000);
               QVERIFY(m.at(WorkflowStates::promptReplugState));
               QVERIFY(m.trail.isActive(QLatin1String(WorkflowStates::noDeviceState)));
               QVERIFY(m.trail.enteredInOrder({ "connectingState", "noDeviceState", "promptReplugState" }));
               // Asked again after a pause, not at once, and the failure is not told again.
               const auto attempts
                   = [&] { return m.trail.entered().count(QStringLiteral("connectingState")); };
               const int before = attempts();
               QTest::qWait(1200);
               QCOMPARE(attempts(), before);
               QTRY_VERIFY_WITH_TIMEOUT(attempts() > before, UpdateWorkflow::reconnectDelayMs + 3000);
               QVERIFY(m.at(WorkflowStates::promptReplugState));
               QCOMPARE(m.f.messages.size(), 1);
               // Once it answers rightly it is taken up without being plugged in again.
               m.setDevice([](SimulatedDeviceSettings& s) { s.header = SimulatedHeaderBehaviour::Normal; });
               QVERIFY(m.at(WorkflowStates::idleState, UpdateWorkflow::reconnectDelayMs + 5000));
           })
        << QStringList { "connectingState", "noDeviceState", "promptReplugState", "connectingState",
               "deviceReadyState", "idleState" }
        << false << QStringList() << "nothingToInstallState"
        << QStringList { "Connection Failure: Failed to connect to device." } << 0;

    SimulatedDeviceSettings second = device(Plus);
    second.serialNumber = QStringLiteral("PK000002");
    QTest::newRow("the first of two devices is selected")
        << DeviceList { device(Base), second } << 200 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.idle());
               QCOMPARE(m.f.workflow()->deviceInfo().model, int(Base));
               QCOMPARE(m.trail.entered().count(QStringLiteral("connectingState")), 1);
               // The other device is never opened.
               const QStringList events = m.f.bus->events();
               QVERIFY(events.contains(QStringLiteral("sim/pelk-base: opened")));
               QVERIFY(!events.contains(QStringLiteral("sim/pelk-plus: opened")));
           })
        << QStringList { "connectingState", "deviceReadyState", "idleState" } << false << QStringList()
        << "nothingToInstallState" << QStringList() << 0;

    QTest::newRow("the update's steps move nothing outside the update")
        << one << 200 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.idle());
               const QSet<QString> before = m.trail.active();
               m.trail.clear();
               emit m.f.workflow()->deviceFailure();
               QTest::qWait(50);
               QCOMPARE(m.trail.active(), before);
               QVERIFY(m.trail.events().isEmpty());
               m.f.check();
               QVERIFY(m.at(WorkflowStates::readyToInstallState));
               m.trail.clear();
               emit m.f.workflow()->deviceReadyForUpdate();
               emit m.f.workflow()->deviceDone();
               emit m.f.workflow()->updateFinished();
               QTest::qWait(50);
           })
        << QStringList() << true << QStringList() << "readyToInstallState" << QStringList() << 0;

    // A check as the user asks for it, with the manifest's reply changed after the start-up check.
    const auto checked = [](int status, const char* finalState) {
        return MachineScript([status, finalState](MachineRun& m) {
            QVERIFY(m.idle());
            HttpTestServer::Reply reply;
            reply.status = status;
            reply.body = m.f.catalogue.manifest();
            m.f.server.setReply(UpdateCatalogue::manifestPath(), reply);
            m.trail.clear();
            m.f.check();
            QVERIFY(m.at(finalState));
            QCOMPARE(m.trail.entered().first(), QStringLiteral("checkingState"));
        });
    };
    SimulatedDeviceSettings current = device();
    current.mcuWord = 0x0327;
    QTest::newRow("check: a newer component")
        << one << 200 << 0 << checked(200, WorkflowStates::readyToInstallState)
        << QStringList { "checkingState", "fetchManifestState", "planUpdateState", "readyToInstallState" }
        << false << QStringList { "appCheckRunningState" } << "readyToInstallState" << QStringList() << 0;
    QTest::newRow("check: up to date")
        << DeviceList { current } << 200 << 0 << checked(200, WorkflowStates::nothingToInstallState)
        << QStringList { "checkingState", "fetchManifestState", "planUpdateState", "nothingToInstallState" }
        << false << QStringList { "appCheckRunningState", "readyToInstallState" } << "nothingToInstallState"
        << QStringList() << 0;
    // A failed check does not plan; the fixed text, then the reason.
    QTest::newRow("check: manifest missing")
        << one << 200 << 0 << checked(404, WorkflowStates::nothingToInstallState)
        << QStringList { "checkingState", "fetchManifestState", "nothingToInstallState" } << false
        << QStringList { "appCheckRunningState", "planUpdateState" } << "nothingToInstallState"
        << QStringList { "Update Check Failure: Failed to check for updates!\n\n" } << 0;

    QTest::newRow("check while the updater check runs")
        << one << 200 << 2500 << MachineScript([](MachineRun& m) {
               // The ready device may be checked although the updater check still runs.
               QVERIFY(m.at(WorkflowStates::nothingToInstallState));
               QVERIFY(m.trail.isActive(QLatin1String(WorkflowStates::appCheckRunningState)));
               m.f.check();
               QVERIFY(m.at(WorkflowStates::fetchManifestState));
               QVERIFY(m.f.log.lines().contains(QStringLiteral("UpdateManager: Busy.")));
               // The running check answers both.
               QVERIFY(m.at(WorkflowStates::readyToInstallState));
               QVERIFY(m.at(WorkflowStates::appCheckIdleState));
               QCOMPARE(m.manifestFetches(), 1);
               QCOMPARE(m.f.workflow()->plan().size(), 1);
           })
        << QStringList { "appCheckRunningState", "fetchManifestState", "planUpdateState",
               "readyToInstallState" }
        << false << QStringList { "appCheckFailedState" } << "readyToInstallState" << QStringList() << 0;

    QTest::newRow("list all components of an up-to-date device")
        << DeviceList { current } << 200 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.idle());
               m.trail.clear();
               m.f.workflow()->listAllComponents();
               QVERIFY(m.at(WorkflowStates::readyToInstallState));
               QCOMPARE(m.f.workflow()->plan().size(), 1);
               QCOMPARE(m.manifestFetches(), 2);
           })
        << QStringList { "checkingState", "fetchManifestForceState", "planForceInstallState", "idleState",
               "readyToInstallState" }
        << true << QStringList() << "readyToInstallState" << QStringList() << 0;

    QTest::newRow("update cycle with a reboot")
        << one << 200 << 0 << MachineScript([](MachineRun& m) {
               bool awakeWhileDownloading = false;
               QObject::connect(m.f.workflow()->state(WorkflowStates::downloadingState), &QState::entered,
                   &m.trail, [&] { awakeWhileDownloading = m.f.sleep->preventing; });
               QVERIFY(m.idle());
               m.f.check();
               QVERIFY(m.at(WorkflowStates::readyToInstallState));
               m.trail.clear();
               m.f.startUpdate();
               QVERIFY(m.at(WorkflowStates::awaitFinishState, 20000));
               QVERIFY(m.f.sleep->preventing);
               QVERIFY(awakeWhileDownloading);
               // The device drops off by itself and comes back: the reboot wait catches both; planned
               // again from the manifest already held, against the device's new version.
               QVERIFY(m.at(WorkflowStates::nothingToInstallState, 20000));
               QCOMPARE(m.manifestFetches(), 2);
               QVERIFY(m.f.workflow()->plan().isEmpty());
           })
        << QStringList { "updatingState", "nextComponentState", "downloadingState", "awaitUpdateModeState",
               "installingState", "awaitFinishState", "noDeviceState", "awaitRebootState", "connectingState",
               "deviceReadyState", "nextComponentState", "checkingState", "planUpdateState", "idleState",
               "nothingToInstallState" }
        << false << QStringList { "promptConnectState", "activeDeviceState", "rebootTimeoutState" }
        << "nothingToInstallState" << QStringList() << 1;

    SimulatedDeviceSettings staying = device();
    staying.dropOffAfterInstall = false;
    QTest::newRow("reboot timer runs out, then the device is power-cycled")
        << DeviceList { staying } << 200 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.started());
               QVERIFY(m.at(WorkflowStates::awaitFinishState, 20000));
               // The wait for the device to drop off is bounded by the reboot timer; it is made to
               // run out now rather than after its many seconds.
               QTimer* rebootTimer = timerOf(
                   m.f.workflow(), WorkflowStates::awaitFinishState, WorkflowStates::rebootTimeoutState);
               QVERIFY(rebootTimer);
               QVERIFY(rebootTimer->isActive());
               rebootTimer->start(0);
               QVERIFY(m.at(WorkflowStates::rebootTimeoutState));
               QVERIFY(m.trail.isActive(QLatin1String(WorkflowStates::deviceReadyState)));
               // The wait goes on until the device goes away, then for it to come back.
               m.trail.clear();
               m.f.powerCycle();
               QVERIFY(m.at(WorkflowStates::awaitRebootState, 10000));
               QVERIFY(m.at(WorkflowStates::idleState, 20000));
           })
        << QStringList { "noDeviceState", "awaitRebootState", "deviceReadyState", "nextComponentState",
               "checkingState", "idleState" }
        << false << QStringList { "promptConnectState" } << "nothingToInstallState" << QStringList() << 1;

    QTest::newRow("the device comes back but cannot be opened")
        << one << 200 << 0 << MachineScript([](MachineRun& m) {
               QVERIFY(m.started());
               QVERIFY(m.at(WorkflowStates::awaitRebootState, 20000));
               m.trail.clear();
               m.setDevice(
                   [](SimulatedDeviceSettings& s) { s.header = SimulatedHeaderBehaviour::BadSignature; });
               QVERIFY(m.at(WorkflowStates::promptReplugState, 15000));
               QTRY_VERIFY(!m.f.messages.isEmpty());
           })
        << QStringList { "connectingState", "noDeviceState", "promptReplugState" } << false
        << QStringList { "deviceReadyState" } << "promptReplugState" << QStringList { rebootFailure } << 1;

    // However the update is left, the computer may sleep again. Every file is downloaded before the
    // first component's step.
    const auto leaves = [](const char* passes, bool unplug, const char* finalState) {
        return MachineScript([=](MachineRun& m) {
            QVERIFY(m.started());
            QTRY_VERIFY_WITH_TIMEOUT(m.trail.entered().contains(QLatin1String(passes)), 10000);
            if (unplug)
                m.f.unplug();
            QTRY_VERIFY_WITH_TIMEOUT(m.trail.events().contains(QStringLiteral("-updatingState")), 10000);
            QVERIFY(m.at(finalState, 10000));
        });
    };
    SimulatedDeviceSettings pulled = device();
    pulled.unplugAfterPacket = 60;
    QTest::newRow("device unplugged while downloading")
        << one << 200 << 0
        << leaves(WorkflowStates::downloadAllState, true, WorkflowStates::promptConnectState)
        << QStringList { "updatingState", "downloadAllState", "noDeviceState", "promptConnectState" } << false
        << QStringList { "installingState" } << "promptConnectState" << QStringList() << 1;
    QTest::newRow("download fails") << one << 200 << 0
                                    << leaves(WorkflowStates::downloadAllState, false,
                                           WorkflowStates::readyToInstallState)
                                    << QStringList { "updatingState", "downloadAllState", "checkingState",
                                           "planUpdateState", "readyToInstallState" }
                                    << false << QStringList { "installingState" } << "readyToInstallState"
                                    << QStringList { "Download Failure: " } << 1;
    // The device drops off the bus in the middle of the transfer: the transfer fails first, then the
    // monitor sees the device gone.
    QTest::newRow("transfer fails") << DeviceList { pulled } << 200 << 0
                                    << leaves(WorkflowStates::installFailedState, false,
                                           WorkflowStates::promptConnectState)
                                    << QStringList { "installingState", "installFailedState", "checkingState",
                                           "planUpdateState", "promptConnectState" }
                                    << false << QStringList() << "promptConnectState"
                                    << QStringList { "Update Failure: " } << 1;
}

void tst_WorkflowStateMachine::scenario()
{
    QFETCH(DeviceList, devices);
    QFETCH(int, manifestStatus);
    QFETCH(int, manifestDelay);
    QFETCH(MachineScript, script);
    QFETCH(QStringList, entered);
    QFETCH(bool, exact);
    QFETCH(QStringList, notEntered);
    QFETCH(QString, rests);
    QFETCH(QStringList, messages);
    QFETCH(int, awake);

    EngineFixture f;
    // One newer MCU image for a device that carries Production 1.2 and is otherwise up to date.
    f.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    f.catalogue.addComponent(QStringLiteral("PELK"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    f.catalogue.publish();
    if (manifestStatus != 200 || manifestDelay > 0) {
        HttpTestServer::Reply reply;
        reply.status = manifestStatus;
        reply.body = f.catalogue.manifest();
        reply.delay = manifestDelay;
        f.server.setReply(UpdateCatalogue::manifestPath(), reply);
    }
    // The download of the image stalls where the device is to be unplugged meanwhile, and is refused
    // where the download is to fail.
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    const UpdateCatalogue::Entry* image = f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
    if (row == QLatin1String("device unplugged while downloading")) {
        HttpTestServer::Reply stalled;
        stalled.body = image->served;
        stalled.stallAfter = 100;
        f.server.setReply(image->path, stalled, "GET");
    } else if (row == QLatin1String("download fails")) {
        HttpTestServer::Reply refused;
        refused.status = 404;
        f.server.setReply(image->path, refused, "GET");
    }
    for (const SimulatedDeviceSettings& settings : devices)
        f.addDevice(settings);
    f.start();
    StateTrail trail(f.workflow()->regions()->machine());
    MachineRun run { f, trail };

    script(run);
    if (QTest::currentTestFailed()) {
        qWarning() << "States entered:" << trail.entered() << "Messages:" << f.messages;
        return;
    }
    if (exact)
        QCOMPARE(trail.entered(), entered);
    else
        QVERIFY2(trail.enteredInOrder(entered), qPrintable(trail.entered().join(QLatin1Char(' '))));
    for (const QString& state : notEntered)
        QVERIFY2(!trail.entered().contains(state), qPrintable(state));
    QVERIFY2(trail.isActive(rests), qPrintable(QStringList(trail.active().values()).join(QLatin1Char(' '))));
    QCOMPARE(f.messages.size(), messages.size());
    for (int i = 0; i < messages.size(); ++i)
        QVERIFY2(f.messages.at(i).startsWith(messages.at(i)), qPrintable(f.messages.at(i)));
    QCOMPARE(f.sleep->switchedOn, awake);
    QCOMPARE(f.sleep->switchedOff, awake);
    QVERIFY(!f.sleep->preventing);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowStateMachine, PelkPlus::EngineTest)

#include "tst_WorkflowStateMachine.moc"
