// The device layer on the production backend: real hidapi and libudev against a hidraw node that a
// umockdev testbed emulates, with the simulated device behind the node.
#include "device/DeviceAgent.h"
#include "device/DeviceInfo.h"
#include "device/DeviceMonitor.h"
#include "device/FirmwareVersion.h"
#include "device/HidBackend.h"
#include "device/HidapiBackend.h"
#include "support/AgentConnection.h"
#include "support/HidrawTestbed.h"
#include "support/TestEnvironment.h"
#include "support/UmockdevPreload.h"
#include "support/UpdateCatalogue.h"
#include "support/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace PelkPlus;

namespace {

struct Listed
{
    QString path;
    int productId;
    QString serialNumber;
};

QList<Listed> enumerate()
{
    QList<Listed> found;
    HidDeviceEntry* entries = hidBackend()->enumerate(pelkVendorId, 0);
    for (const HidDeviceEntry* entry = entries; entry; entry = entry->next) {
        found.append({ QString::fromLatin1(entry->path), entry->productId,
            entry->serialNumber ? QString::fromWCharArray(entry->serialNumber) : QString() });
    }
    hidBackend()->freeEnumeration(entries);
    return found;
}

} // namespace

class tst_HidrawStack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void enumeration_data();
    void enumeration();
    void installThroughAgent_data();
    void installThroughAgent();
    void unplugWhileConnected();
    void writeFailureOpensAgain();

private:
    QTemporaryDir dir;
    std::unique_ptr<HidrawTestbed> testbed;
};

void tst_HidrawStack::initTestCase()
{
    registerDeviceMetaTypes();
    if (!UmockdevPreload::active()) {
        if (UmockdevPreload::required())
            QFAIL("umockdev's preload library is missing; the continuous integration must install umockdev");
        QSKIP("umockdev's preload library is not installed");
    }
    qunsetenv("PELK_HIDSIM_SOCKET");
    setHidBackend(hidapiBackend());
}

void tst_HidrawStack::init()
{
    testbed = std::make_unique<HidrawTestbed>();
    QVERIFY2(testbed->isValid(), qPrintable(testbed->errorString()));
}

void tst_HidrawStack::cleanup()
{
    if (QTest::currentTestFailed())
        qInfo().noquote() << testbed->events().join(QLatin1Char('\n'));
    testbed.reset();
}

void tst_HidrawStack::enumeration_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("interfaces");
    QTest::addColumn<int>("nested");
    QTest::addColumn<QString>("serialNumber");
    // "path serial" of each entry hidapi lists, in order.
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("pelk+, one interface")
        << int(Plus) << 1 << 0 << "PK000001" << QStringList { "/dev/hidraw0 PK000001" };
    QTest::newRow("pelk, one interface")
        << int(Base) << 1 << 0 << "PK000002" << QStringList { "/dev/hidraw0 PK000002" };
    QTest::newRow("nested collections: one node listed twice") << int(
        Plus) << 1 << 1 << "PK000003" << QStringList { "/dev/hidraw0 PK000003", "/dev/hidraw0 PK000003" };
    QTest::newRow("two hid interfaces") << int(Plus) << 2 << 0 << "PK000004"
                                        << QStringList { "/dev/hidraw0 PK000004", "/dev/hidraw1 PK000004" };
    QTest::newRow("no serial number") << int(Plus) << 1 << 0 << "" << QStringList { "/dev/hidraw0 " };
    QTest::newRow("non-ascii serial number")
        << int(Plus) << 1 << 0 << QStringLiteral("PK-\u00c5\u00df\u20ac7")
        << QStringList { QStringLiteral("/dev/hidraw0 PK-\u00c5\u00df\u20ac7") };
}

void tst_HidrawStack::enumeration()
{
    QFETCH(int, model);
    QFETCH(int, interfaces);
    QFETCH(int, nested);
    QFETCH(QString, serialNumber);
    QFETCH(QStringList, listed);

    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.interfaces = interfaces;
    settings.serialNumber = serialNumber;
    HidrawTestbed::Layout layout;
    layout.nestedCollections = nested;
    testbed->addDevice(settings, layout);

    QStringList found;
    for (const Listed& entry : enumerate()) {
        QCOMPARE(entry.productId, int(productIdForModel(model)));
        found.append(entry.path + QLatin1Char(' ') + entry.serialNumber);
    }
    QCOMPARE(found, listed);

    // The monitor reports the update interface first, with the model its product ID names.
    DeviceMonitor monitor;
    QSignalSpy connected(&monitor, &DeviceMonitor::connected);
    monitor.start();
    QVERIFY(connected.wait(5000));
    const Connection first = connected.first().first().value<Connection>();
    QCOMPARE(first.path, QStringLiteral("/dev/hidraw0"));
    QCOMPARE(first.model, model);
    QCOMPARE(first.serialNumber, serialNumber);

    testbed->unplug(0);
    QSignalSpy disconnected(&monitor, &DeviceMonitor::disconnected);
    QVERIFY(disconnected.wait(5000));
    QCOMPARE(disconnected.first().first().toString(), QStringLiteral("/dev/hidraw0"));
    QVERIFY(enumerate().isEmpty());
}

void tst_HidrawStack::installThroughAgent_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("fileType");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("version");
    // A node still held open keeps its number: the device comes back on the next one.
    QTest::addColumn<bool>("holdOldNode");
    QTest::addColumn<QString>("returnPath");
    QTest::newRow("pelk+ mcu firmware") << int(Plus) << 0 << 20000 << "3.2.0" << false << "/dev/hidraw0";
    QTest::newRow("pelk+ dsp firmware, old node held")
        << int(Plus) << 1 << 3000 << "1.5.1" << true << "/dev/hidraw1";
    QTest::newRow("pelk+ styles") << int(Plus) << 2 << 70000 << "0x0207" << false << "/dev/hidraw0";
    QTest::newRow("pelk+ ensemble audio, old node held")
        << int(Plus) << 3 << 40000 << "0x00020001" << true << "/dev/hidraw1";
    QTest::newRow("pelk mcu firmware, old node held")
        << int(Base) << 0 << 9000 << "3.2.0" << true << "/dev/hidraw1";
    QTest::newRow("pelk ensemble audio")
        << int(Base) << 3 << 30000 << "0x00020001" << false << "/dev/hidraw0";
}

void tst_HidrawStack::installThroughAgent()
{
    QFETCH(int, model);
    QFETCH(int, fileType);
    QFETCH(int, size);
    QFETCH(QString, version);
    QFETCH(bool, holdOldNode);
    QFETCH(QString, returnPath);
    const QByteArray image = UpdateCatalogue::image(size, version, quint32(fileType + 1));
    const QByteArray contents = fileType == 1 ? UpdateCatalogue::dspText(image) : image;
    const QString path = dir.filePath(QStringLiteral("component-%1").arg(fileType));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), qint64(contents.size()));
    file.close();

    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.mcuWord = 0x0301;
    settings.dspWord = 0x0102; // Beta: the sector transfers end with a terminating packet
    // The device stays off after its install until the test brings it back, once the agent has
    // let go of the node: whether the number is taken again then depends on the held node alone.
    settings.comeBackAfterReboot = false;
    settings.rebootMs = 300;
    settings.paced = true;
    testbed->addDevice(settings);

    DeviceMonitor monitor;
    QSignalSpy connected(&monitor, &DeviceMonitor::connected);
    monitor.start();
    DeviceInfo before;
    std::unique_ptr<DeviceAgent> agent = connectAgent(monitor, connected, &before);
    QVERIFY(agent);
    QCOMPARE(before.model, model);
    QCOMPARE(before.mcuVersion.toString(), QStringLiteral("3.0.1"));

    QSignalSpy readyForUpdate(agent.get(), &DeviceAgent::readyForUpdate);
    agent->checkReadyForUpdate();
    QVERIFY(readyForUpdate.wait(5000));

    // Closed however the test ends: the testbed must not go while a node is open.
    // Held by another program: not through the backend, which leaves a node that an updater has
    // open alone.
    struct HeldNode
    {
        int fd;
        ~HeldNode() { reset(); }
        void reset()
        {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    } held { holdOldNode ? ::open("/dev/hidraw0", O_RDWR | O_CLOEXEC) : -1 };
    QCOMPARE(held.fd >= 0, holdOldNode);
    QSignalSpy done(agent.get(), &DeviceAgent::done);
    QSignalSpy failure(agent.get(), &DeviceAgent::failure);
    QSignalSpy disconnected(agent.get(), &DeviceAgent::disconnected);
    agent->sendFile(fileType, path);
    QVERIFY(done.wait(30000));
    QVERIFY(failure.isEmpty());

    // The device installs, reboots and its node goes; the agent hears of it through the monitor.
    QVERIFY(disconnected.wait(10000));
    const SimulatedDevice device = testbed->device(0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
    QCOMPARE(device.installCount(), 1);
    QVERIFY(device.holdsImage(fileType, image));
    agent.reset();
    testbed->powerCycle(0);

    DeviceInfo after;
    agent = connectAgent(monitor, connected, &after);
    QVERIFY(agent);
    held.reset();
    QCOMPARE(agent->connection().path, returnPath);
    const QString shown = fileType == 0 ? after.mcuVersion.toString()
        : fileType == 1                 ? after.dspVersion.toString()
        : fileType == 2 ? QStringLiteral("0x%1").arg(after.stylesVersion, 4, 16, QLatin1Char('0'))
                        : QStringLiteral("0x%1").arg(after.ensembleVersion, 8, 16, QLatin1Char('0'));
    QCOMPARE(shown, version);
    agent.reset();
}

void tst_HidrawStack::unplugWhileConnected()
{
    testbed->addDevice(SimulatedDeviceSettings());
    DeviceMonitor monitor;
    QSignalSpy connected(&monitor, &DeviceMonitor::connected);
    monitor.start();
    DeviceInfo info;
    std::unique_ptr<DeviceAgent> agent = connectAgent(monitor, connected, &info);
    QVERIFY(agent);
    QSignalSpy disconnected(agent.get(), &DeviceAgent::disconnected);
    testbed->unplug(0);
    QVERIFY(disconnected.wait(5000));
    // A ready check after the unplug finds no link and sends nothing.
    const int reports = testbed->reportsTaken(0);
    QSignalSpy readyForUpdate(agent.get(), &DeviceAgent::readyForUpdate);
    agent->checkReadyForUpdate();
    QVERIFY(!readyForUpdate.wait(500));
    QCOMPARE(testbed->reportsTaken(0), reports);
    agent.reset();
}

// A write given up on is not left queued under the handle the next write takes: the node is
// opened afresh, and the link goes on once the device takes reports again.
void tst_HidrawStack::writeFailureOpensAgain()
{
    testbed->addDevice(SimulatedDeviceSettings());
    const QByteArray path = testbed->nodePath(0).toLatin1();
    HidDevice* device = hidBackend()->openPath(path.constData());
    QVERIFY(device);
    unsigned char report[65] = {};
    testbed->setTakingReports(0, false);
    QCOMPARE(hidBackend()->write(device, report, sizeof(report)), -1);
    QCOMPARE(testbed->openCount(0), 2);
    testbed->setTakingReports(0, true);
    const int taken = testbed->reportsTaken(0);
    QCOMPARE(hidBackend()->write(device, report, sizeof(report)), int(sizeof(report)));
    QCOMPARE(testbed->reportsTaken(0), taken + 1);
    hidBackend()->close(device);
}

namespace {

// The suite runs under umockdev's preload library, started again under it if need be. hidapi
// converts serial numbers in the process's locale; the command line's own handling of a C locale is
// tested on the command line.
struct HidrawTest : ConsoleTest
{
    static void prepare(int& /*argc*/, char** argv) { UmockdevPreload::ensure(argv); }
    HidrawTest(int& argc, char** argv)
        : ConsoleTest(argc, argv)
    {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
};

} // namespace

PELK_TEST_MAIN(tst_HidrawStack, HidrawTest)

#include "tst_HidrawStack.moc"
