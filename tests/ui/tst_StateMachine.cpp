// The window's side of the workflow's state machine: the region it adds, and what the window shows
// and enables as the engine's states are entered, driven by simulated devices on the in-process
// virtual bus, the update catalogue on a loopback server and the window's own signals. The engine's
// own transitions and trails are tested without a window (tst_WorkflowStateMachine).
#include "app/ApplicationSetup.h"
#include "device/DeviceProtocol.h"
#include "app/ConfigurationManager.h"
#include "device/DeviceInfo.h"
#include "device/DeviceMonitor.h"
#include "support/StateTrail.h"
#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"

#include <QActionGroup>
#include <QApplication>
#include <QStateMachine>
#include <QtTest>

namespace PelkPlus {
// Drives a session; false when a step did not happen.
using PanelScript = std::function<bool(WorkflowSession&)>;
} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::PanelScript)

namespace PelkPlus {

namespace {

const QString rebootText = QStringLiteral("Waiting for the device to reboot...");

// One newer MCU image for a device that carries Production 1.2 and is otherwise up to date.
void publishMcuUpdate(UpdateCatalogue& catalogue)
{
    catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    catalogue.addComponent(QStringLiteral("PELK"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    catalogue.publish();
}

SimulatedDeviceSettings deviceSettings(int model = Plus)
{
    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.path = model == Base ? QStringLiteral("sim/pelk-base") : QStringLiteral("sim/pelk-plus");
    settings.mcuWord = 0x0312;
    // Longer than one poll of the monitor, so that the drop is seen.
    settings.rebootMs = DeviceProtocol::scaled(1800);
    return settings;
}

QStateMachine* machineOf(const WorkflowSession& session)
{
    return session.window->findChild<QStateMachine*>(QStringLiteral("stateMachine"));
}

QActionGroup* installActionsOf(const WorkflowSession& session)
{
    return session.window->findChild<QActionGroup*>();
}

QAction* appCheckActionOf(const WorkflowSession& session)
{
    return session.action(QStringLiteral("Check for New Version of Pelk Updater"));
}

QWidget* logo(const WorkflowSession& session, const char* name)
{
    return session.window->findChild<QWidget*>(QString::fromLatin1(name));
}

} // namespace

class tst_StateMachine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }
    void cleanup() { trail.reset(); }

    void stateTree_data();
    void stateTree();
    void deviceInfoFollows_data();
    void deviceInfoFollows();
    void startUpConfiguration();
    void updaterCheckSilentOnlyAtStartUp();
    void connectingAndReady_data();
    void connectingAndReady();
    void unplugOnSelectionPage();
    void connectionFailureAndRetry();
    void checkForUpdates_data();
    void checkForUpdates();
    void updateCycleWithReboot();
    void rebootFailure();

private:
    // Opens the window and starts watching its machine before its first step.
    void open(WorkflowSession& session)
    {
        session.openWindow();
        trail = std::make_unique<StateTrail>(machineOf(session));
    }
    // The selection page of a ready device with the start-up updater check behind it.
    bool waitForIdle(const WorkflowSession& session, int timeout = 15000)
    {
        return QTest::qWaitFor(
            [&] {
                return trail->isActive(QStringLiteral("idleState"))
                    && trail->isActive(QStringLiteral("appCheckIdleState")) && session.selectionPageShown();
            },
            timeout);
    }
    bool waitForState(const QString& name, int timeout = 15000)
    {
        return QTest::qWaitFor([&] { return trail->isActive(name); }, timeout);
    }
    // Runs an update of the one planned MCU component up to the wait for the device to finish.
    bool startMcuUpdate(WorkflowSession& session)
    {
        if (!waitForIdle(session) || !session.click("checkUpdatesButton"))
            return false;
        if (!waitForState(QStringLiteral("readyToInstallState")) || !session.click("startUpdateButton"))
            return false;
        return true;
    }

    std::unique_ptr<StateTrail> trail;
};

void tst_StateMachine::stateTree_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<bool>("initial");

    // The region the window adds beside the engine's; the engine's own states are the engine's tables.
    const QList<std::tuple<const char*, const char*, bool>> tree = {
        { "deviceInfoRegion", "regions", false },
        { "infoNoDeviceState", "deviceInfoRegion", true },
        { "infoWaitingState", "deviceInfoRegion", false },
        { "infoShownState", "deviceInfoRegion", false },
        { "infoRestartingState", "deviceInfoRegion", false },
    };
    for (const auto& [state, parent, initial] : tree)
        QTest::newRow(state) << QString::fromLatin1(state) << QString::fromLatin1(parent) << initial;
}

void tst_StateMachine::stateTree()
{
    QFETCH(QString, state);
    QFETCH(QString, parent);
    QFETCH(bool, initial);

    WorkflowSession session;
    session.catalogue.publish();
    open(session);
    auto* found = qobject_cast<QState*>(trail->state(state));
    QVERIFY(found);
    QCOMPARE(found->parentState()->objectName(), parent);
    QCOMPARE(found->parentState()->initialState() == found, initial);
    // Only the holder of the four regions runs its children side by side.
    QCOMPARE(found->childMode(), QState::ExclusiveStates);
    QCOMPARE(found->parentState()->childMode(),
        parent == QLatin1String("regions") ? QState::ParallelStates : QState::ExclusiveStates);
    QCOMPARE(trail->machine()->findChildren<QState*>(state).size(), 1);
}

void tst_StateMachine::deviceInfoFollows_data()
{
    QTest::addColumn<PanelScript>("run");
    // The panel's states entered from the start in this order (others may come between them when the
    // device is seen again for a moment), the last of them the one it rests in, and what the panel
    // says at the end.
    QTest::addColumn<QStringList>("entered");
    QTest::addColumn<QString>("shows");

    const auto updated = [this](WorkflowSession& s) {
        return startMcuUpdate(s) && waitForState(QStringLiteral("nothingToInstallState"), 30000);
    };
    const QStringList ready = { "infoNoDeviceState", "infoWaitingState", "infoShownState" };
    const QStringList restart = { "infoNoDeviceState", "infoRestartingState" };
    QTest::newRow("found and ready") << PanelScript([this](WorkflowSession& s) { return waitForIdle(s); })
                                     << ready << "Pelk+ Connected";
    QTest::newRow("unplugged while shown") << PanelScript([this](WorkflowSession& s) {
        if (!waitForIdle(s))
            return false;
        s.engine.unplug();
        return waitForState(QStringLiteral("infoNoDeviceState"));
    }) << ready + QStringList { "infoNoDeviceState" }
                                           << "No device connected";
    QTest::newRow("failing its header") << PanelScript([this](WorkflowSession& s) {
        s.bus->run(
            [](DeviceBus& bus) { bus.device(0).settings().header = SimulatedHeaderBehaviour::BadSignature; });
        return waitForState(QStringLiteral("promptReplugState"));
    }) << QStringList { "infoNoDeviceState", "infoWaitingState", "infoNoDeviceState" }
                                        << "No device connected";
    // Through the restart of an update the panel says so, and the device is shown again once back.
    QTest::newRow("restarting during an update")
        << PanelScript(updated) << ready + restart + QStringList { "infoWaitingState", "infoShownState" }
        << "Pelk+ Connected";
    // A device that does not come back from its restart: the panel leaves the restart with the wait.
    QTest::newRow("not back from the restart") << PanelScript([this](WorkflowSession& s) {
        s.bus->run([](DeviceBus& bus) { bus.device(0).settings().comeBackAfterReboot = false; });
        s.workflow()->setDeviceWaitLimits(1500, UpdateWorkflow::deviceAnswerTimeoutMs);
        return startMcuUpdate(s) && waitForState(QStringLiteral("promptReplugState"), 30000)
            && waitForState(QStringLiteral("infoNoDeviceState"));
    }) << ready + restart + QStringList { "infoNoDeviceState" }
                                               << "No device connected";
}

void tst_StateMachine::deviceInfoFollows()
{
    QFETCH(PanelScript, run);
    QFETCH(QStringList, entered);
    QFETCH(QString, shows);

    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    session.addDevice(deviceSettings());
    open(session);
    QVERIFY(run(session));
    const QStringList info = trail->entered().filter(QRegularExpression(QStringLiteral("^info")));
    QVERIFY2(trail->enteredInOrder(entered) && !info.isEmpty() && info.constLast() == entered.constLast(),
        qPrintable(info.join(QLatin1Char(' '))));
    QVERIFY2(session.deviceText().startsWith(shows), qPrintable(session.deviceText()));
}

void tst_StateMachine::startUpConfiguration()
{
    WorkflowSession session;
    HttpTestServer::Reply slow;
    slow.body = session.catalogue.manifest();
    slow.delay = 400;
    session.server.setReply(UpdateCatalogue::manifestPath(), slow);
    open(session);

    // The start is queued: nothing is entered, nor fetched, before the event loop runs (the fetch
    // may reach the server within the first turn of the loop).
    QVERIFY(trail->active().isEmpty());
    QVERIFY(trail->events().isEmpty());
    QCOMPARE(session.server.requestCount(UpdateCatalogue::manifestPath(), "GET"), 0);

    QTRY_VERIFY(trail->machine()->isRunning());
    const QSet<QString> initial
        = { "regions", "deviceRegion", "noDeviceState", "deviceInfoRegion", "infoNoDeviceState",
              "workflowRegion", "promptConnectState", "appUpdateRegion", "appCheckRunningState" };
    QCOMPARE(trail->active(), initial);
    QCOMPARE(session.pages()->currentIndex(), 0);
    QCOMPARE(session.promptText(), QStringLiteral("Please connect a PELK device."));
    QCOMPARE(session.deviceText(), QStringLiteral("No device connected"));
    QVERIFY(logo(session, "baseLogo")->isVisible());
    QVERIFY(logo(session, "plusLogo")->isVisible());
    // The updater check runs behind the prompt and keeps the check button off meanwhile.
    QVERIFY(!session.button("checkUpdatesButton")->isEnabled());
    QVERIFY(!installActionsOf(session)->isEnabled());
    QVERIFY(!session.button("startUpdateButton")->isEnabled());

    QTRY_VERIFY(trail->isActive(QStringLiteral("appCheckIdleState")));
    QVERIFY(trail->enteredInOrder({ "appCheckRunningState", "appCheckDoneState", "appCheckIdleState" }));
    QCOMPARE(session.server.requestCount(UpdateCatalogue::manifestPath(), "GET"), 1);
    QVERIFY(session.button("checkUpdatesButton")->isEnabled());
    QVERIFY(trail->isActive(QStringLiteral("promptConnectState")));
    QVERIFY(session.messages().isEmpty());
}

void tst_StateMachine::updaterCheckSilentOnlyAtStartUp()
{
    WorkflowSession session;
    HttpTestServer::Reply missing;
    missing.status = 404;
    session.server.setReply(UpdateCatalogue::manifestPath(), missing);
    open(session);

    QTRY_VERIFY(trail->isActive(QStringLiteral("appCheckIdleState")));
    QVERIFY(trail->enteredInOrder({ "appCheckRunningState", "appCheckFailedState", "appCheckIdleState" }));
    QTest::qWait(50);
    QVERIFY(session.messages().isEmpty());

    // The same failure asked for from the menu is reported.
    trail->clear();
    appCheckActionOf(session)->trigger();
    QTRY_COMPARE(session.messages().size(), 1);
    const WorkflowSession::Shown shown = session.messages().first();
    QCOMPARE(shown.title, QString());
    QCOMPARE(shown.text, QStringLiteral("Failed to check for new version of Pelk Updater."));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QTRY_VERIFY(trail->isActive(QStringLiteral("appCheckIdleState")));
    QCOMPARE(trail->entered(),
        QStringList({ "appCheckRunningState", "appCheckFailedState", "appCheckIdleState" }));
}

void tst_StateMachine::connectingAndReady_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("shownLogo");
    QTest::addColumn<QString>("hiddenLogo");
    QTest::newRow("pelk") << int(Base) << "Pelk Connected"
                          << "baseLogo"
                          << "plusLogo";
    QTest::newRow("pelk+") << int(Plus) << "Pelk+ Connected"
                           << "plusLogo"
                           << "baseLogo";
}

void tst_StateMachine::connectingAndReady()
{
    QFETCH(int, model);
    QFETCH(QString, description);
    QFETCH(QString, shownLogo);
    QFETCH(QString, hiddenLogo);

    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    session.addDevice(deviceSettings(model));
    open(session);

    // What the user sees while the device is being opened.
    QString waitingPanel;
    QString waitingPrompt;
    connect(trail->state(QStringLiteral("promptWaitState")), &QState::entered, trail.get(), [&] {
        waitingPanel = session.deviceText();
        waitingPrompt = session.promptText();
    });

    QVERIFY(waitForIdle(session));
    QVERIFY(
        trail->enteredInOrder({ "connectingState", "infoWaitingState", "promptWaitState", "deviceReadyState",
            "infoShownState", "activeDeviceState", "selectionState", "idleState", "nothingToInstallState" }));
    QCOMPARE(waitingPanel, QStringLiteral("Waiting..."));
    QCOMPARE(waitingPrompt, QStringLiteral("Waiting for the PELK device to get ready..."));

    const QSet<QString> ready = { "regions", "deviceRegion", "deviceReadyState", "deviceInfoRegion",
        "infoShownState", "workflowRegion", "activeDeviceState", "selectionState", "idleState",
        "nothingToInstallState", "appUpdateRegion", "appCheckIdleState" };
    QCOMPARE(trail->active(), ready);
    QVERIFY(session.deviceText().startsWith(description + QLatin1Char('\n')));
    QVERIFY(logo(session, shownLogo.toLatin1().constData())->isVisible());
    QVERIFY(!logo(session, hiddenLogo.toLatin1().constData())->isVisible());
    // Nothing is checked by itself: an empty list and nothing to start.
    QVERIFY(session.planItems().isEmpty());
    QVERIFY(!session.button("startUpdateButton")->isEnabled());
    QVERIFY(session.button("checkUpdatesButton")->isEnabled());
    QVERIFY(installActionsOf(session)->isEnabled());
    QVERIFY(appCheckActionOf(session)->isEnabled());
    QVERIFY(session.messages().isEmpty());
}

void tst_StateMachine::unplugOnSelectionPage()
{
    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    session.addDevice(deviceSettings());
    open(session);
    QVERIFY(waitForIdle(session));
    QVERIFY(session.click("checkUpdatesButton"));
    QVERIFY(waitForState(QStringLiteral("readyToInstallState")));
    QCOMPARE(session.planItems().size(), 1);

    trail->clear();
    session.bus->run([](DeviceBus& bus) { bus.unplug(0); });
    QVERIFY(waitForState(QStringLiteral("promptConnectState")));
    QVERIFY(trail->enteredInOrder({ "noDeviceState", "infoNoDeviceState" }));
    QCOMPARE(session.pages()->currentIndex(), 0);
    QCOMPARE(session.promptText(), QStringLiteral("Please connect a PELK device."));
    QCOMPARE(session.deviceText(), QStringLiteral("No device connected"));
    QVERIFY(logo(session, "baseLogo")->isVisible());
    QVERIFY(logo(session, "plusLogo")->isVisible());
    QVERIFY(!installActionsOf(session)->isEnabled());
    QVERIFY(session.messages().isEmpty());

    // Back again: a new agent, and the plan of the old one is gone.
    session.bus->run([](DeviceBus& bus) { bus.plug(0); });
    QVERIFY(waitForIdle(session));
    QVERIFY(trail->isActive(QStringLiteral("nothingToInstallState")));
    QVERIFY(session.planItems().isEmpty());
    QVERIFY(!session.button("startUpdateButton")->isEnabled());
}

void tst_StateMachine::connectionFailureAndRetry()
{
    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    SimulatedDeviceSettings settings = deviceSettings();
    settings.header = SimulatedHeaderBehaviour::BadSignature;
    session.addDevice(settings);
    open(session);
    auto* monitor = session.window->findChild<DeviceMonitor*>();
    QVERIFY(monitor);

    QTRY_VERIFY_WITH_TIMEOUT(!session.messages().isEmpty(), 10000);
    QCOMPARE(session.messages().size(), 1);
    const WorkflowSession::Shown shown = session.messages().first();
    QCOMPARE(shown.title, QStringLiteral("Connection Failure"));
    QCOMPARE(shown.text, QStringLiteral("Failed to connect to device."));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QTRY_VERIFY(trail->isActive(QStringLiteral("noDeviceState")));
    QVERIFY(trail->enteredInOrder(
        { "connectingState", "noDeviceState" }, trail->entered().indexOf("connectingState")));
    // The page says what to do with the device that is there.
    QTRY_VERIFY(trail->isActive(QStringLiteral("promptReplugState")));
    QCOMPARE(session.promptText(),
        QStringLiteral("The PELK device does not answer. Please unplug it, wait five seconds and plug it in "
                       "again."));
    QVERIFY(trail->isActive(QStringLiteral("infoNoDeviceState")));
    QCOMPARE(session.deviceText(), QStringLiteral("No device connected"));
    QVERIFY(!trail->entered().contains(QStringLiteral("deviceReadyState")));

    // Asked again after a pause, not at once, and the failure is not told again.
    const int attempts = trail->entered().count(QStringLiteral("connectingState"));
    QTest::qWait(1200);
    QCOMPARE(trail->entered().count(QStringLiteral("connectingState")), attempts);
    QTRY_VERIFY_WITH_TIMEOUT(trail->entered().count(QStringLiteral("connectingState")) > attempts,
        UpdateWorkflow::reconnectDelayMs + 3000);
    QTRY_VERIFY(trail->isActive(QStringLiteral("promptReplugState")));
    QCOMPARE(session.messages().size(), 1);

    // Once it answers rightly it is taken up without being plugged in again.
    session.closeMessages();
    session.bus->run(
        [](DeviceBus& bus) { bus.device(0).settings().header = SimulatedHeaderBehaviour::Normal; });
    QTRY_VERIFY_WITH_TIMEOUT(
        trail->isActive(QStringLiteral("idleState")), UpdateWorkflow::reconnectDelayMs + 5000);
    QVERIFY(session.messages().isEmpty());
    QVERIFY(monitor);
}

void tst_StateMachine::checkForUpdates_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<unsigned>("mcuWord");
    QTest::addColumn<QString>("finalState");
    QTest::addColumn<int>("items");
    QTest::addColumn<QString>("message");

    QTest::newRow("newer component") << 200 << 0x0312u << "readyToInstallState" << 1 << "";
    QTest::newRow("up to date") << 200 << 0x0327u << "nothingToInstallState" << 0 << "";
    QTest::newRow("manifest missing")
        << 404 << 0x0312u << "nothingToInstallState" << 0 << "Update Check Failure";
}

void tst_StateMachine::checkForUpdates()
{
    QFETCH(int, status);
    QFETCH(unsigned, mcuWord);
    QFETCH(QString, finalState);
    QFETCH(int, items);
    QFETCH(QString, message);

    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    SimulatedDeviceSettings settings = deviceSettings();
    settings.mcuWord = mcuWord;
    session.addDevice(settings);
    open(session);
    QVERIFY(waitForIdle(session));

    HttpTestServer::Reply reply;
    reply.status = status;
    reply.body = session.catalogue.manifest();
    session.server.setReply(UpdateCatalogue::manifestPath(), reply);

    // What the machine shows while the check runs.
    struct Snapshot
    {
        QString heading;
        int headingMode = -1;
        int warningsMode = -1;
        bool checkButton = true;
        bool appCheck = true;
        bool installActions = true;
    } checking;
    connect(trail->state(QStringLiteral("checkingState")), &QState::entered, trail.get(), [&] {
        checking.heading = session.box("updatesHeading")->text();
        checking.headingMode = session.box("updatesHeading")->currentMode();
        checking.warningsMode = session.box("warningsBox")->currentMode();
        checking.checkButton = session.button("checkUpdatesButton")->isEnabled();
        checking.appCheck = appCheckActionOf(session)->isEnabled();
        checking.installActions = installActionsOf(session)->isEnabled();
    });

    trail->clear();
    QVERIFY(session.click("checkUpdatesButton"));
    QVERIFY(waitForState(finalState));
    QCOMPARE(checking.heading, QStringLiteral("Checking for latest updates..."));
    QCOMPARE(checking.headingMode, int(MessageMode::Information));
    QCOMPARE(checking.warningsMode, int(MessageMode::Hidden));
    QVERIFY(!checking.checkButton);
    QVERIFY(!checking.appCheck);
    QVERIFY(!checking.installActions);

    QCOMPARE(session.planItems().size(), items);
    QCOMPARE(session.button("startUpdateButton")->isEnabled(), items > 0);
    QVERIFY(session.button("checkUpdatesButton")->isEnabled());
    QVERIFY(appCheckActionOf(session)->isEnabled());
    QVERIFY(installActionsOf(session)->isEnabled());
    if (message.isEmpty()) {
        QVERIFY(session.messages().isEmpty());
    } else {
        QTRY_COMPARE(session.messages().size(), 1);
        QCOMPARE(session.messages().first().title, message);
        // The fixed text, then the reason.
        QVERIFY2(
            session.messages().first().text.startsWith(QStringLiteral("Failed to check for updates!\n\n")),
            qPrintable(session.messages().first().text));
        QCOMPARE(session.messages().first().icon, QMessageBox::Critical);
    }
}

void tst_StateMachine::updateCycleWithReboot()
{
    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    session.addDevice(deviceSettings());
    open(session);

    // The status strip as each step of the update is first entered: what the step assigns, as
    // none of their own actions writes to the strip.
    QMap<QString, std::pair<QString, int>> status;
    for (const char* name : { "updatingState", "nextComponentState", "installingState", "awaitFinishState",
             "awaitRebootState" }) {
        const QString state = QString::fromLatin1(name);
        connect(trail->state(state), &QState::entered, trail.get(), [&, state] {
            if (!status.contains(state)) {
                const MessageBox* box = session.box("statusMessage");
                status.insert(state, { box->text(), box->currentMode() });
            }
        });
    }
    bool progressShown = false;
    connect(trail->state(QStringLiteral("updatingState")), &QState::entered, trail.get(), [&] {
        progressShown = session.pages()->currentIndex() == 2 && !session.label("downloadLabel")->isHidden()
            && !session.bar("downloadProgress")->isHidden();
    });

    QVERIFY(startMcuUpdate(session));
    QVERIFY(waitForState(QStringLiteral("awaitFinishState"), 20000));
    QVERIFY(!installActionsOf(session)->isEnabled());
    QCOMPARE(session.pages()->currentIndex(), 2);

    // The device drops off by itself and comes back: the reboot wait catches both.
    QVERIFY(waitForState(QStringLiteral("nothingToInstallState"), 20000));
    const QString keepConnected = QStringLiteral("Please DO NOT disconnect or power down the device!");
    QVERIFY(progressShown);
    QCOMPARE(status.value(QStringLiteral("updatingState")),
        std::make_pair(
            QStringLiteral("Please do NOT disconnect or power down the device!"), int(MessageMode::Warning)));
    QCOMPARE(status.value(QStringLiteral("nextComponentState")).second, int(MessageMode::Hidden));
    QCOMPARE(status.value(QStringLiteral("installingState")),
        std::make_pair(
            QStringLiteral("Update in progress...\n\n") + keepConnected, int(MessageMode::Warning)));
    QCOMPARE(status.value(QStringLiteral("awaitFinishState")),
        std::make_pair(
            QStringLiteral("Waiting for confirmation that the update is finished...\n\n") + keepConnected,
            int(MessageMode::Warning)));
    QCOMPARE(status.value(QStringLiteral("awaitRebootState")),
        std::make_pair(rebootText, int(MessageMode::Information)));
    QVERIFY(session.messages().isEmpty());

    QCOMPARE(session.pages()->currentIndex(), 1);
    QVERIFY(session.box("updatesHeading")->text().startsWith(QStringLiteral("No updates available")));
    QVERIFY(installActionsOf(session)->isEnabled());
}

void tst_StateMachine::rebootFailure()
{
    WorkflowSession session;
    publishMcuUpdate(session.catalogue);
    session.addDevice(deviceSettings());
    open(session);

    QVERIFY(startMcuUpdate(session));
    QVERIFY(waitForState(QStringLiteral("awaitRebootState"), 20000));
    // The device comes back but cannot be opened.
    session.bus->run(
        [](DeviceBus& bus) { bus.device(0).settings().header = SimulatedHeaderBehaviour::BadSignature; });

    QVERIFY(waitForState(QStringLiteral("promptReplugState"), 15000));
    // One box, and the page says the same as the box.
    QTRY_VERIFY(!session.messages().isEmpty());
    QCOMPARE(session.messageTitles(), QStringList { QStringLiteral("Reboot Failure") });
    const WorkflowSession::Shown shown = session.messages().first();
    QCOMPARE(shown.text,
        QStringLiteral("The device failed to reboot after update.\n\nPlease unplug the device, wait five "
                       "seconds and plug it in again. What is left of the update is then planned again."));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    // The lasting strip names what was not installed above the prompt.
    QVERIFY2(session.promptText().startsWith(QStringLiteral("Not installed: MCU Firmware. "))
            && session.promptText().endsWith(phaseStatusText(WorkflowPhase::NotAnswering)),
        qPrintable(session.promptText()));
    QCOMPARE(session.pages()->currentIndex(), 0);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_StateMachine, PelkPlus::WindowTest)

#include "tst_StateMachine.moc"
