// pelk-cli as a user runs it on the production USB path: real hidapi and libudev in its own process,
// against a hidraw node that a umockdev testbed in this process emulates, and the update catalogue
// on the loopback server. The faults are those only a real stack shows.
#include "device/FirmwareVersion.h"
#include "device/DeviceProtocol.h"
#include "support/HidrawTestbed.h"
#include "support/HttpTestServer.h"
#include "support/TestEnvironment.h"
#include "support/UmockdevPreload.h"
#include "support/UpdateCatalogue.h"
#include "support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <memory>

using namespace PelkPlus;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

quint16 commandOf(const QByteArray& report)
{
    return report.size() >= 5 ? quint16(quint8(report.at(3)) | quint8(report.at(4)) << 8) : 0;
}

// A Pelk+ that is older than the catalogue in the components named.
SimulatedDeviceSettings plusOlderIn(const QStringList& names)
{
    SimulatedDeviceSettings s;
    s.model = Plus;
    s.mcuWord = names.contains(QStringLiteral("MP")) ? 0x0312
                                                     : parseFirmwareVersion(QStringLiteral("3.2.7")).toWord();
    s.dspWord = names.contains(QStringLiteral("DSP"))
        ? 0x0310
        : parseFirmwareVersion(QStringLiteral("3.1.2")).toWord();
    s.stylesVersion = names.contains(QStringLiteral("Styles")) ? 0x12 : 0x1A2B;
    s.ensembleVersion = names.contains(QStringLiteral("Ensemble")) ? 0x10203 : 0x20014;
    s.rebootMs = DeviceProtocol::scaled(1800);
    s.paced = true;
    return s;
}

} // namespace

class tst_HidrawCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void updateInstallsEveryImage_data();
    void updateInstallsEveryImage();
    void faults_data();
    void faults();
    void devices_data();
    void devices();

private:
    QProcess* startCli(const QStringList& arguments, const QStringList& environment = QStringList());
    Run finish(QProcess* cli, int timeout = 90000);
    void publish(int mcuSize, int stylesSize);

    HttpTestServer server;
    std::unique_ptr<UpdateCatalogue> catalogue;
    std::unique_ptr<HidrawTestbed> emulated;
    QList<QProcess*> clis;
};

void tst_HidrawCli::initTestCase()
{
    if (!UmockdevPreload::active()) {
        if (UmockdevPreload::required())
            QFAIL("umockdev's preload library is missing; the continuous integration must install umockdev");
        QSKIP("umockdev's preload library is not installed");
    }
    QVERIFY2(QFile::exists(qEnvironmentVariable("PELK_CLI")), "PELK_CLI names the command-line updater");
    QVERIFY(server.listen());
}

void tst_HidrawCli::init()
{
    emulated = std::make_unique<HidrawTestbed>();
    QVERIFY2(emulated->isValid(), qPrintable(emulated->errorString()));
}

void tst_HidrawCli::cleanup()
{
    // A program still holding a node when the testbed goes would hang in the preload.
    for (QProcess* cli : qAsConst(clis)) {
        if (cli->state() != QProcess::NotRunning) {
            cli->kill();
            cli->waitForFinished(5000);
        }
        delete cli;
    }
    clis.clear();
    // A row's stopped update leaves its journal, which the next row's update would finish first.
    const QString data = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Quellor/Pelk Updater");
    QFile::remove(data + QStringLiteral("/update-journal.json"));
    QDir(data + QStringLiteral("/kept-files")).removeRecursively();
    if (QTest::currentTestFailed())
        qInfo().noquote() << emulated->events().join(QLatin1Char('\n'));
    emulated.reset();
    catalogue.reset();
}

void tst_HidrawCli::publish(int mcuSize, int stylesSize)
{
    catalogue = std::make_unique<UpdateCatalogue>(&server);
    catalogue->addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), mcuSize);
    catalogue->addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    catalogue->addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), stylesSize);
    catalogue->addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Ensemble"), QStringLiteral("0x00020014"), 30000);
    catalogue->publish();
}

QProcess* tst_HidrawCli::startCli(const QStringList& arguments, const QStringList& environment)
{
    auto* cli = new QProcess;
    clis.append(cli);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The production backend: no virtual bus, the testbed's /sys and /dev through the preload.
    env.remove(QStringLiteral("PELK_HIDSIM_SOCKET"));
    for (const QString& variable : emulated->environment() + environment)
        env.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    cli->setProcessEnvironment(env);
    cli->setProcessChannelMode(QProcess::SeparateChannels);
    cli->start(qEnvironmentVariable("PELK_CLI"),
        arguments + QStringList { "--manifest-url", server.url(UpdateCatalogue::manifestPath()).toString() });
    return cli;
}

Run tst_HidrawCli::finish(QProcess* cli, int timeout)
{
    // The loopback server answers from this event loop, so the wait must keep it running.
    if (!QTest::qWaitFor([cli] { return cli->state() == QProcess::NotRunning; }, timeout))
        cli->kill();
    cli->waitForFinished();
    return { cli->exitStatus() == QProcess::NormalExit ? cli->exitCode() : -1, cli->readAllStandardOutput(),
        QString::fromLocal8Bit(cli->readAllStandardError()) };
}

void tst_HidrawCli::updateInstallsEveryImage_data()
{
    QTest::addColumn<int>("interfaces");
    QTest::addColumn<int>("nested");
    QTest::newRow("one interface") << 1 << 0;
    // hidapi lists the update interface twice and the second interface once: still one device,
    // updated through the interface listed first.
    QTest::newRow("two interfaces, the first listed twice") << 2 << 1;
}

void tst_HidrawCli::updateInstallsEveryImage()
{
    QFETCH(int, interfaces);
    QFETCH(int, nested);
    publish(20000, 70000);
    SimulatedDeviceSettings settings = plusOlderIn({ "MP", "DSP", "Styles", "Ensemble" });
    settings.interfaces = interfaces;
    HidrawTestbed::Layout layout;
    layout.nestedCollections = nested;
    emulated->addDevice(settings, layout);
    const Run run = finish(startCli({ "update", "--allow-unsigned", "--yes" }), 120000);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(
        run.out.endsWith("Update complete: 4 components installed and verified.\n"), run.out.constData());

    // Every image arrived whole, every packet as the device expects it.
    const SimulatedDevice device = emulated->device(0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
    QCOMPARE(device.installCount(), 4);
    const char* names[] = { "MP", "DSP", "Styles", "Ensemble" };
    for (int component = 0; component < 4; ++component) {
        const UpdateCatalogue::Entry* entry
            = catalogue->find(QStringLiteral("PELK+"), QLatin1String(names[component]));
        QVERIFY2(device.holdsImage(component, entry->image), names[component]);
    }
    // The device came back after each of its four reboots and was opened anew each time.
    QCOMPARE(emulated->nodeNumbers(0).size(), 5);
    QVERIFY(emulated->openCount(0) >= 5);
}

void tst_HidrawCli::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("older");
    QTest::addColumn<int>("exitCode");
    // What standard error must hold.
    QTest::addColumn<QString>("told");
    QTest::addColumn<int>("installs");
    // The numbers the update interface's node had, in order.
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QString>("serialNumber");

    const QStringList mcu { "MP" };
    const QString failed = QStringLiteral("Update Failure: The update could not be completed.");
    const QString noConnection = QStringLiteral("Connection Failure: Failed to connect to device.");
    const QList<int> first { 0 };
    QTest::newRow("unplugged during a read")
        << "unplug reading" << mcu << 1
        << "Not installed: MCU Firmware. The device was disconnected before the update was finished." << 0
        << first << "PK000001";
    QTest::newRow("unplugged during a write")
        << "unplug writing" << mcu << 1 << failed << 0 << first << "PK000001";
    QTest::newRow("unplugged inside a sector pause")
        << "unplug in pause" << QStringList { "Styles" } << 1 << failed << 0 << first << "PK000001";
    QTest::newRow("unplugged between open and the first read")
        << "unplug after open" << mcu << 1 << noConnection << 0 << first << "PK000001";
    QTest::newRow("reply queued at the hang-up")
        << "hang up with reply" << mcu << 1 << noConnection << 0 << first << "PK000001";
    QTest::newRow("reboot with the link still open: a new number")
        << "reboot held" << mcu << 0 << "" << 1 << QList<int> { 0, 1 } << "PK000001";
    QTest::newRow("reboot with the link closed: the same number")
        << "reboot closed" << mcu << 0 << "" << 1 << QList<int> { 0, 0 } << "PK000001";
    QTest::newRow("signal during a read")
        << "signal reading" << mcu << 1 << "Stopped." << 0 << first << "PK000001";
    QTest::newRow("device stops taking reports")
        << "stops taking" << mcu << 1 << failed << 0 << first << "PK000001";
    // Without a serial number the node, or the USB port it is plugged into, tells the device apart
    // from another of its model.
    QTest::newRow("no serial number, back on the same node")
        << "reboot closed" << mcu << 0 << "" << 1 << QList<int> { 0, 0 } << "";
    QTest::newRow("no serial number, back on a new node")
        << "reboot held" << mcu << 0 << "" << 1 << QList<int> { 0, 1 } << "";
}

void tst_HidrawCli::faults()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, older);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    QFETCH(int, installs);
    QFETCH(QList<int>, numbers);
    QFETCH(QString, serialNumber);

    publish(20000, 70000);
    SimulatedDeviceSettings settings = plusOlderIn(older);
    settings.serialNumber = serialNumber;
    if (fault == QLatin1String("unplug reading") || fault == QLatin1String("signal reading")) {
        // Each ready query then waits its whole 200 ms read for an answer.
        settings.ready = SimulatedReadyBehaviour::NoAnswer;
    }
    // Back at once on another node (the old one still held, by the updater or by another program),
    // or long after.
    if (fault == QLatin1String("reboot held")) {
        settings.rebootMs = 5;
        settings.returnPath = QStringLiteral("another node");
    }
    if (fault == QLatin1String("reboot closed"))
        settings.rebootMs = 4500;
    emulated->addDevice(settings);

    std::atomic<int> reportsAtFault { -1 };
    std::atomic<qint64> faultAtMs { -1 };
    std::atomic<int> readyQueries { 0 };
    std::atomic<int> dataPackets { 0 };
    QElapsedTimer clock;
    clock.start();
    // The observer sees this function's variables: it goes before they do, however the test ends.
    struct ObserverGuard
    {
        HidrawTestbed* testbed;
        ~ObserverGuard() { testbed->setObserver(nullptr); }
    } guard { emulated.get() };
    emulated->setObserver(
        [&](HidrawTestbed& testbed, int index, HidrawTestbed::Stage stage, const QByteArray& report) {
            const quint16 command = commandOf(report);
            const bool data
                = stage == HidrawTestbed::Stage::ReportTaken && (command == 0x0004 || command == 0x0014);
            if (data)
                ++dataPackets;
            if (command == 0x0012)
                ++readyQueries;
            auto strike = [&](const std::function<void()>& f) {
                if (reportsAtFault < 0) {
                    reportsAtFault = testbed.reportsTaken(index);
                    faultAtMs = clock.elapsed();
                    f();
                }
            };
            if (fault == QLatin1String("unplug reading") && command == 0x0012 && readyQueries == 2)
                // The ready query's answer is held back: the host is inside its 200 ms read.
                strike([&] { testbed.later(100, [&testbed, index] { testbed.unplug(index); }); });
            else if (fault == QLatin1String("unplug writing") && data && dataPackets == 20)
                strike([&] {
                    testbed.setTakingReports(index, false);
                    testbed.later(300, [&testbed, index] { testbed.unplug(index); });
                });
            else if (fault == QLatin1String("unplug in pause") && data && dataPackets == 1171)
                strike([&] {
                    testbed.later(DeviceProtocol::scaled(1000), [&testbed, index] { testbed.unplug(index); });
                });
            else if (fault == QLatin1String("unplug after open") && stage == HidrawTestbed::Stage::Opened)
                strike([&] { testbed.unplug(index); });
            else if (fault == QLatin1String("hang up with reply") && command == 0x000A)
                strike([&] { testbed.unplug(index); });
            else if (fault == QLatin1String("stops taking") && data && dataPackets == 20)
                strike([&] { testbed.setTakingReports(index, false); });
        });

    QProcess* cli = startCli({ "update", "--allow-unsigned", "--yes" });
    if (fault == QLatin1String("signal reading")) {
        QVERIFY(QTest::qWaitFor([&] { return readyQueries >= 2; }, 20000));
        // Inside the read that follows the second query.
        QTest::qWait(50);
        reportsAtFault = emulated->reportsTaken(0);
        ::kill(pid_t(cli->processId()), SIGINT);
    }
    const Run run = finish(cli);
    const qint64 endedMs = clock.elapsed();
    const SimulatedDevice device = emulated->device(0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
    QVERIFY2(
        run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
    QCOMPARE(device.installCount(), installs);
    QCOMPARE(emulated->nodeNumbers(0), numbers);
    if (installs == 0) {
        // Whatever the fault, the device took nothing more after it, and nothing was left half
        // installed: an image the device kept would be the catalogue's, whole.
        QCOMPARE(emulated->reportsTaken(0), int(reportsAtFault));
        QVERIFY(device.installedImage(0).isEmpty() && device.installedImage(2).isEmpty());
    } else {
        QVERIFY(device.holdsImage(0, catalogue->find(QStringLiteral("PELK+"), QStringLiteral("MP"))->image));
        if (exitCode == 0)
            QVERIFY2(
                run.out.contains("\nUpdate complete: ") && run.out.endsWith(" installed and verified.\n"),
                run.out.constData());
    }
    // A device that stops taking reports is given up on after the time usbhid waits, not before.
    if (fault == QLatin1String("stops taking"))
        QVERIFY2(endedMs - faultAtMs >= HidrawTestbed::writeTimeoutMs,
            qPrintable(QString::number(endedMs - faultAtMs)));
}

void tst_HidrawCli::devices_data()
{
    QTest::addColumn<int>("interfaces");
    QTest::addColumn<int>("nested");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("locale");

    const QString unicode = QStringLiteral("PK-\u00c5\u00df\u20ac7");
    QTest::newRow("one interface") << 1 << 0 << "PK000001"
                                   << "C.UTF-8";
    QTest::newRow("one node listed twice: one device") << 1 << 1 << "PK000001"
                                                       << "C.UTF-8";
    QTest::newRow("two interfaces: one device") << 2 << 0 << "PK000001"
                                                << "C.UTF-8";
    QTest::newRow("no serial number") << 1 << 0 << ""
                                      << "C.UTF-8";
    QTest::newRow("non-ascii serial number") << 1 << 0 << unicode << "C.UTF-8";
    QTest::newRow("non-ascii serial number under a C locale") << 1 << 0 << unicode << "C";
    QTest::newRow("non-ascii serial number under POSIX") << 1 << 0 << unicode << "POSIX";
}

// pelk-cli devices counts devices, not what hidapi lists, and reads serial numbers whatever the
// locale it was started in.
void tst_HidrawCli::devices()
{
    QFETCH(int, interfaces);
    QFETCH(int, nested);
    QFETCH(QString, serialNumber);
    QFETCH(QString, locale);

    publish(6000, 20000);
    SimulatedDeviceSettings settings = plusOlderIn({});
    settings.interfaces = interfaces;
    settings.serialNumber = serialNumber;
    HidrawTestbed::Layout layout;
    layout.nestedCollections = nested;
    emulated->addDevice(settings, layout);

    const Run run = finish(startCli({ "devices", "--json" }, { QStringLiteral("LC_ALL=") + locale }), 30000);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QJsonArray devices
        = QJsonDocument::fromJson(run.out).object().value(QStringLiteral("devices")).toArray();
    QCOMPARE(devices.size(), 1);
    const QJsonObject device = devices.first().toObject();
    QCOMPARE(device.value(QStringLiteral("serial")).toString(), serialNumber);
    QCOMPARE(device.value(QStringLiteral("path")).toString(), QStringLiteral("/dev/hidraw0"));
    QCOMPARE(device.value(QStringLiteral("mcu")).toString(), QStringLiteral("3.2.7"));
}

namespace {

// The suite runs under umockdev's preload library, started again under it if need be.
struct HidrawTest : ConsoleTest
{
    using ConsoleTest::ConsoleTest;
    static void prepare(int& /*argc*/, char** argv) { UmockdevPreload::ensure(argv); }
};

} // namespace

PELK_TEST_MAIN(tst_HidrawCli, HidrawTest)

#include "tst_HidrawCli.moc"
