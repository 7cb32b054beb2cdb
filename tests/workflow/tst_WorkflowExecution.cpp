// Carrying out an update on the engine alone, told by what the device was asked and sent, what
// was downloaded, the log and the timing of the waits: each row a scenario against simulated
// devices on the in-process bus and the family's catalogue on the loopback server.
#include "app/ApplicationPaths.h"
#include "device/DeviceMonitor.h"
#include "device/DeviceProtocol.h"
#include "support/EngineFixture.h"
#include "support/TestFiles.h"
#include "workflow/DeviceSelection.h"
#include "workflow/InstallAttemptRecorder.h"
#include "workflow/PlanExecution.h"
#include "workflow/UpdateWorkflow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace PelkPlus {
// A scenario's steps, asserting as they go.
using ExecutionScript = std::function<void(EngineFixture&)>;
using DeviceList = QList<SimulatedDeviceSettings>;
} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::ExecutionScript)

namespace PelkPlus {

namespace {

// The family's catalogue: newer versions of everything than the devices below carry.
void publishFamily(UpdateCatalogue& catalogue)
{
    catalogue.addFamilyComponents();
    catalogue.publish();
}

// The fixture's older device with the simulator's own serial number, on a path named after the model.
SimulatedDeviceSettings needing(int model, const QStringList& old)
{
    SimulatedDeviceSettings settings
        = EngineFixture::olderDevice(old, SimulatedDeviceSettings().serialNumber, model);
    settings.path = model == Base ? QStringLiteral("sim/pelk-base") : QStringLiteral("sim/pelk-plus");
    return settings;
}

const QStringList everything = { "MP", "DSP", "Styles", "Ensemble" };

const UpdateCatalogue::Entry* entryOf(const EngineFixture& f, int model, const char* name)
{
    return f.catalogue.find(
        model == Base ? QStringLiteral("PELK") : QStringLiteral("PELK+"), QLatin1String(name));
}

// Waits for the device's selection, checks, and starts the update of the plan of the given size.
void startPlanned(EngineFixture& f, int planned)
{
    QVERIFY(f.waitForPhase(WorkflowPhase::Idle));
    f.phases.clear();
    f.phaseTimes.clear();
    f.check();
    QVERIFY(f.waitForPhase(WorkflowPhase::Planned));
    QCOMPARE(f.workflow()->plan().size(), planned);
    f.startUpdate();
}

QString downloadedFile(const QString& name)
{
    QFile file(ApplicationPaths::downloadDirectory() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toHex()) : QString();
}

} // namespace

class tst_WorkflowExecution : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
    void nextComponent_data();
    void nextComponent();

private:
    QTemporaryDir dir;
};

void tst_WorkflowExecution::scenario_data()
{
    QTest::addColumn<DeviceList>("devices");
    QTest::addColumn<bool>("published");
    QTest::addColumn<ExecutionScript>("script");
    // How every update ended, in order.
    QTest::addColumn<QList<int>>("outcomes");
    // How every message told begins, in order.
    QTest::addColumn<QStringList>("messages");
    // How many files the device took whole.
    QTest::addColumn<int>("installs");

    const auto ends = [](std::initializer_list<UpdateOutcome> list) {
        QList<int> numbers;
        for (UpdateOutcome outcome : list)
            numbers.append(int(outcome));
        return numbers;
    };

    QTest::newRow("full update: asked before each file, each file as its own type, downloaded once")
        << DeviceList { needing(Plus, everything) } << true << ExecutionScript([](EngineFixture& f) {
               startPlanned(f, 4);
               QVERIFY(f.waitForOutcome(90000));
               QVERIFY(f.waitForPhase(WorkflowPhase::Idle));
               QVERIFY(f.workflow()->plan().isEmpty());
               QCOMPARE(f.componentTexts,
                   QStringList(
                       { "Updating MCU Firmware (Component 1/4)", "Updating DSP Firmware (Component 2/4)",
                           "Updating Styles (Component 3/4)", "Updating Ensemble Audio (Component 4/4)" }));
               QCOMPARE(f.log.linesStartingWith(QStringLiteral("Checking whether device ready for update..."))
                            .size(),
                   4);
               const QStringList sent = f.log.linesStartingWith(QStringLiteral("Sending file type"));
               QCOMPARE(sent.size(), 4);
               for (int type = 0; type < 4; ++type)
                   QVERIFY2(sent.at(type).startsWith(QStringLiteral("Sending file type %1 at").arg(type)),
                       qPrintable(sent.at(type)));
               QCOMPARE(f.phases.count(WorkflowPhase::AwaitingReboot), 4);
               QVERIFY(!f.phases.contains(WorkflowPhase::AwaitingPowerCycle));
               QCOMPARE(f.log.linesStartingWith(QStringLiteral("System sleep disabled.")).size(), 1);
               QCOMPARE(f.log.linesStartingWith(QStringLiteral("System sleep re-enabled.")).size(), 1);
               const SimulatedDevice device = f.device();
               QVERIFY2(
                   device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
               const char* names[] = { "MP", "DSP", "Styles", "Ensemble" };
               const char* files[] = { "MCU Firmware", "DSP Firmware", "Styles", "Ensemble Audio" };
               for (int component = 0; component < 4; ++component) {
                   const UpdateCatalogue::Entry* entry = entryOf(f, Plus, names[component]);
                   QVERIFY2(device.holdsImage(component, entry->image), names[component]);
                   QCOMPARE(f.server.requestCount(entry->path, "GET"), 1);
                   QCOMPARE(downloadedFile(QString::fromLatin1(files[component])),
                       QString::fromLatin1(entry->served.toHex()));
               }
               QCOMPARE(f.workflow()->deviceInfo().stylesVersion, 0x1A2B);
           })
        << ends({ UpdateOutcome::Done }) << QStringList() << 4;

    QTest::newRow("download fails: planned again, the device never asked")
        << DeviceList { needing(Plus, { "MP", "DSP" }) } << true << ExecutionScript([](EngineFixture& f) {
               // The size is announced, the file itself is gone.
               const UpdateCatalogue::Entry* mcu = entryOf(f, Plus, "MP");
               HttpTestServer::Reply gone;
               gone.status = 404;
               gone.body = "not here";
               f.server.setReply(mcu->path, gone, "GET");
               // A system that will not stay awake is only logged; the update is tried all the same.
               f.sleep->refuse = true;
               QSignalSpy warned(f.workflow(), &WorkflowNotifier::sleepNotPrevented);
               startPlanned(f, 2);
               QCOMPARE(warned.size(), 1);
               QCOMPARE(warned.first().first().toString(), WorkflowNotifier::sleepWarningText());
               const int manifestsFetched = f.server.requestCount(UpdateCatalogue::manifestPath(), "GET");
               QVERIFY(f.waitForOutcome());
               QVERIFY(f.log.lines().contains(QStringLiteral("Could not disable system sleep.")));
               QVERIFY(f.server.requestCount(mcu->path, "GET") >= 1);
               // Planned again from the manifest already held, not fetched again.
               QTRY_COMPARE(f.workflow()->plan().size(), 2);
               QCOMPARE(f.server.requestCount(UpdateCatalogue::manifestPath(), "GET"), manifestsFetched);
               QCOMPARE(f.sleep->switchedOff, 1);
               QCOMPARE(f.device().packetsReceived(), 0);
               QVERIFY(f.log.linesStartingWith(QStringLiteral("Checking whether device ready for update..."))
                           .isEmpty());
           })
        << ends({ UpdateOutcome::Failed })
        << QStringList { "Download Failure: Failed to download updates.\n\nThe server answered with an "
                         "error.\n\nNothing was sent to the device." }
        << 0;

    SimulatedDeviceSettings pulled = needing(Plus, { "MP" });
    pulled.unplugAfterPacket = 60; // well inside the firmware stream
    QTest::newRow("unplugged during the transfer, plugged in again and updated")
        << DeviceList { pulled } << true << ExecutionScript([](EngineFixture& f) {
               startPlanned(f, 1);
               QVERIFY(f.waitForOutcome());
               QVERIFY(!f.log.linesStartingWith(QStringLiteral("Sending file type 0")).isEmpty());
               QTRY_VERIFY_WITH_TIMEOUT(!f.workflow()->hasDevice(), 5000);
               QCOMPARE(f.sleep->switchedOff, 1);
               QCOMPARE(f.device().installCount(), 0);
               // Plugged in again, it is planned again by itself from the last check, and the update
               // can be done.
               f.bus->run([](DeviceBus& devices) { devices.plug(0); });
               QTRY_VERIFY_WITH_TIMEOUT(f.workflow()->phase() == WorkflowPhase::Planned, 15000);
               QCOMPARE(f.workflow()->deviceInfo().mcuVersion.toString(), QStringLiteral("3.1.2"));
               QCOMPARE(f.workflow()->plan().size(), 1);
               f.startUpdate();
               QTRY_COMPARE_WITH_TIMEOUT(f.outcomes.size(), 2, 30000);
               QVERIFY(f.device().holdsImage(0, entryOf(f, Plus, "MP")->image));
           })
        << ends({ UpdateOutcome::Failed, UpdateOutcome::Done })
        << QStringList { "Update Failure: The update could not be completed.\n\nThe device was disconnected "
                         "before the update was finished. Connect it again: what was not installed is "
                         "planned again once it is back." }
        << 1;

    // udev slower than the restart: each return refused for 3 s. Not back yet, not a reboot failure.
    QTest::newRow("access refused for 3 s after each reboot: the update goes on")
        << DeviceList { needing(Plus, { "MP", "DSP" }) } << true << ExecutionScript([](EngineFixture& f) {
               startPlanned(f, 2);
               f.bus->run([](DeviceBus& devices) {
                   devices.device(0).settings().refuseOpenMs = DeviceProtocol::scaled(3000);
               });
               QVERIFY(f.waitForOutcome(90000));
               QCOMPARE(f.phases.count(WorkflowPhase::AwaitingReboot), 2);
           })
        << ends({ UpdateOutcome::Done }) << QStringList() << 2;

    // Gone and back between two polls of the monitor, on the same path: the dead handle tells.
    SimulatedDeviceSettings quick = needing(Plus, { "MP" });
    quick.rebootMs = 100;
    QTest::newRow("a reboot quicker than the monitor's poll: seen by the link")
        << DeviceList { quick } << true << ExecutionScript([](EngineFixture& f) {
               startPlanned(f, 1);
               QVERIFY(f.waitForOutcome(60000));
               QVERIFY(!f.phases.contains(WorkflowPhase::AwaitingPowerCycle));
           })
        << ends({ UpdateOutcome::Done }) << QStringList() << 1;

    // The device stays on the bus after its install: after the reboot timer the user is asked to
    // power-cycle it. The Base has no ready flag and is assumed ready after 3 s. The rows are named
    // after the real waits and run on this run's clock; tst_WorkflowExecution_slow runs them in
    // real time.
    for (const auto& [model, rebootTimeout, readyWait] :
        { std::tuple<int, int, int> {
              Base, DeviceProtocol::rebootTimeout(true), DeviceProtocol::baseReadyDelay() },
            std::tuple<int, int, int> { Plus, DeviceProtocol::rebootTimeout(false), 0 } }) {
        SimulatedDeviceSettings staying = needing(model, { "DSP" });
        staying.dropOffAfterInstall = false;
        QTest::addRow("power-cycle asked after %d s, model %d",
            (model == Base ? DeviceProtocol::baseRebootTimeoutMs : DeviceProtocol::plusRebootTimeoutMs)
                / 1000,
            model)
            << DeviceList { staying } << true
            << ExecutionScript([model = model, rebootTimeout = rebootTimeout, readyWait = readyWait](
                                   EngineFixture& f) {
                   startPlanned(f, 1);
                   QVERIFY(f.waitForPhase(WorkflowPhase::AwaitingPowerCycle, rebootTimeout + 15000));
                   const auto enteredAt = [&](WorkflowPhase phase) {
                       const int index = f.phases.indexOf(phase);
                       return index < 0 ? -1 : f.phaseTimes.at(index);
                   };
                   const qint64 waiting
                       = f.log.firstAt(QStringLiteral("Checking whether device ready for update..."));
                   const qint64 installing = f.log.firstAt(QStringLiteral("Sending file type 1 at"));
                   const qint64 confirming = enteredAt(WorkflowPhase::AwaitingFinish);
                   const qint64 asked = enteredAt(WorkflowPhase::AwaitingPowerCycle);
                   const QString spacing
                       = QStringLiteral("ready asked at %1, file sent at %2; confirmation awaited "
                                        "at %3, power cycle asked at %4")
                             .arg(waiting)
                             .arg(installing)
                             .arg(confirming)
                             .arg(asked);
                   QVERIFY2(waiting >= 0 && installing >= waiting && confirming >= 0 && asked > confirming,
                       qPrintable(spacing));
                   QVERIFY2(installing - waiting >= readyWait - 100, qPrintable(spacing));
                   QVERIFY2(installing - waiting < readyWait + 2000, qPrintable(spacing));
                   // The timer may fire up to 5 % early, as coarse timers do.
                   QVERIFY2(asked - confirming >= rebootTimeout * 94 / 100, qPrintable(spacing));
                   QVERIFY2(asked - confirming < rebootTimeout + 2000, qPrintable(spacing));
                   QVERIFY(f.sleep->preventing);
                   // The user power-cycles the device; the update goes on as after any reboot.
                   f.powerCycle();
                   QVERIFY(f.waitForOutcome(20000));
                   QCOMPARE(f.phases.mid(f.phases.indexOf(WorkflowPhase::AwaitingPowerCycle), 2),
                       QList<WorkflowPhase>(
                           { WorkflowPhase::AwaitingPowerCycle, WorkflowPhase::AwaitingReboot }));
                   QVERIFY(f.statuses.contains(phaseStatusText(WorkflowPhase::AwaitingPowerCycle)));
                   QVERIFY(f.device().holdsImage(1, entryOf(f, model, "DSP")->image));
                   QCOMPARE(f.workflow()->deviceInfo().dspVersion.toString(), QStringLiteral("3.1.2"));
               })
            << ends({ UpdateOutcome::Done }) << QStringList() << 1;
    }

    QTest::newRow("catalogue missing: told when checked, planned once it is back")
        << DeviceList { needing(Plus, everything) } << false << ExecutionScript([](EngineFixture& f) {
               // The updater's own check failed at start-up too, without a word.
               QVERIFY(f.waitForPhase(WorkflowPhase::Idle));
               QTRY_VERIFY(f.server.requestCount(UpdateCatalogue::manifestPath()) >= 1);
               QVERIFY(f.messages.isEmpty());
               f.check();
               QTRY_VERIFY_WITH_TIMEOUT(!f.messages.isEmpty(), 10000);
               QVERIFY(f.workflow()->plan().isEmpty());
               QVERIFY(!f.workflow()->lastChecked().isValid());
               // Once the catalogue is back, the next check succeeds.
               publishFamily(f.catalogue);
               f.check();
               QTRY_COMPARE_WITH_TIMEOUT(f.workflow()->plan().size(), 4, 10000);
           })
        << QList<int>() << QStringList { "Update Check Failure: Failed to check for updates!\n\n" } << 0;

    // A plan entry of a type the device cannot take: the device is asked whether it is ready, as for
    // any file, and the install then fails without a byte sent.
    QTest::newRow("a type the device cannot take")
        << DeviceList { needing(Plus, { "DSP" }) } << true << ExecutionScript([this](EngineFixture& f) {
               const QString path = writeFile(dir, QStringLiteral("PelkUpdater.exe"), QByteArray(100, 'x'));
               QVERIFY(!path.isEmpty());
               QVERIFY(f.waitForPhase(WorkflowPhase::Idle));
               // No face offers this type; the command takes any, and no ending is asked of it.
               f.answer(path);
               f.workflow()->installComponentFromFile(ComponentType::WindowsApplication);
               QVERIFY(f.log.lines().contains(
                   QStringLiteral("About to upload \"Windows Application\" from: \"%1\"").arg(path)));
               QVERIFY(f.waitForOutcome());
               QCOMPARE(f.componentTexts, QStringList({ "Updating Windows Application (Component 1/1)" }));
               const qint64 asked
                   = f.log.firstAt(QStringLiteral("Checking whether device ready for update..."));
               const qint64 refused = f.log.firstAt(
                   QStringLiteral("MainWindow::onDownloadFinished: Unexpected component type."));
               QVERIFY(asked >= 0);
               QVERIFY(refused >= asked);
               QVERIFY(f.log.linesStartingWith(QStringLiteral("Sending file type")).isEmpty());
               // Planned again from the manifest held since the start-up check.
               QTRY_COMPARE(f.workflow()->plan().size(), 1);
               QCOMPARE(f.workflow()->plan().first().type, ComponentType::DspFirmware);
               QCOMPARE(f.sleep->switchedOff, 1);
           })
        << ends({ UpdateOutcome::Failed })
        << QStringList { "Update Failure: The update could not be completed." } << 0;
}

void tst_WorkflowExecution::scenario()
{
    QFETCH(DeviceList, devices);
    QFETCH(bool, published);
    QFETCH(ExecutionScript, script);
    QFETCH(QList<int>, outcomes);
    QFETCH(QStringList, messages);
    QFETCH(int, installs);

    EngineFixture f;
    if (published)
        publishFamily(f.catalogue);
    for (const SimulatedDeviceSettings& settings : devices)
        f.addDevice(settings);
    f.start();

    script(f);
    if (QTest::currentTestFailed()) {
        qWarning() << "Messages:" << f.messages << "Statuses:" << f.statuses;
        return;
    }
    QList<int> ended;
    for (UpdateOutcome outcome : qAsConst(f.outcomes))
        ended.append(int(outcome));
    QCOMPARE(ended, outcomes);
    QCOMPARE(f.messages.size(), messages.size());
    for (int i = 0; i < messages.size(); ++i)
        QVERIFY2(f.messages.at(i).startsWith(messages.at(i)), qPrintable(f.messages.at(i)));
    QCOMPARE(f.device().installCount(), installs);
    QVERIFY(!f.sleep->preventing);
}

void tst_WorkflowExecution::nextComponent_data()
{
    QTest::addColumn<QString>("localPath"); // none for a component to download, "-" for no plan
    QTest::addColumn<QByteArray>("step");   // the one signal told
    QTest::newRow("nothing left") << "-" << QByteArray(SIGNAL(updateFinished()));
    QTest::newRow("a file still to download") << "" << QByteArray(SIGNAL(downloadsRequired()));
    QTest::newRow("every file at hand") << "/tmp/chosen" << QByteArray(SIGNAL(componentSelected()));
}

// Alone, with a selection and a recorder of its own: the step after the next component is chosen,
// as its own signals tell it.
void tst_WorkflowExecution::nextComponent()
{
    QFETCH(QString, localPath);
    QFETCH(QByteArray, step);
    DeviceMonitor monitor;
    DeviceSelection selection(&monitor);
    InstallAttemptRecorder recorder;
    WorkflowPlan plan;
    Component component;
    component.localPath = localPath;
    if (localPath != QLatin1String("-"))
        plan.setSingle(component);
    PlanExecution execution(plan, selection, recorder);
    QSignalSpy told(&execution, step.constData());
    QSignalSpy finished(&execution, &PlanExecution::updateFinished);
    execution.selectNextComponent();
    QCOMPARE(told.count(), 1);
    QCOMPARE(finished.count(), int(plan.components().isEmpty()));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowExecution, PelkPlus::EngineTest)

#include "tst_WorkflowExecution.moc"
