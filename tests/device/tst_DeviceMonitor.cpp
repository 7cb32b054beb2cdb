#include "device/DeviceMonitor.h"

#include "support/FakeHidBackend.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(PelkPlus::FakeHidBackend::Interface)

using namespace PelkPlus;

namespace {

using Interfaces = QList<FakeHidBackend::Interface>;

FakeHidBackend::Interface pelk(const char* path, const char* serial = "S1")
{
    return { path, 0x0042, QString::fromLatin1(serial), 0x1210 };
}

FakeHidBackend::Interface pelkPlus(const char* path, const char* serial = "S2")
{
    return { path, 0x0043, QString::fromLatin1(serial), 0x1210 };
}

// One line per connection, serial number included, so that a comparison sees every field.
QStringList describe(const QList<Connection>& connections)
{
    QStringList lines;
    for (const Connection& connection : connections)
        lines << QStringLiteral("%1 %2 %3")
                     .arg(connection.path)
                     .arg(connection.model)
                     .arg(connection.serialNumber);
    return lines;
}

QStringList describe(const Interfaces& interfaces)
{
    QList<Connection> expected;
    QList<QByteArray> paths;
    Interfaces vendorFirst = interfaces;
    std::stable_partition(vendorFirst.begin(), vendorFirst.end(),
        [](const FakeHidBackend::Interface& entry) { return entry.usagePage >= 0xFF00; });
    for (const FakeHidBackend::Interface& entry : qAsConst(vendorFirst)) {
        const bool otherPageOfVendorDevice = entry.usagePage != 0 && entry.usagePage < 0xFF00
            && std::any_of(
                vendorFirst.cbegin(), vendorFirst.cend(), [&entry](const FakeHidBackend::Interface& other) {
                    return other.usagePage >= 0xFF00 && other.productId == entry.productId
                        && !other.serialNumber.isEmpty() && other.serialNumber == entry.serialNumber;
                });
        if (paths.contains(entry.path) || otherPageOfVendorDevice)
            continue;
        paths << entry.path;
        if (entry.vendorId == 0x1210 && (entry.productId == 0x0042 || entry.productId == 0x0043))
            expected << Connection(
                QString::fromLatin1(entry.path), entry.productId == 0x0042 ? Base : Plus, entry.serialNumber);
    }
    return describe(expected);
}

} // namespace

class TestDeviceMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reportsPresentDeviceAfterFirstPoll();
    void reportsChanges_data();
    void reportsChanges();
    void startTwiceKeepsOneTimer();
    void pollsWithInterruptsBlocked();
    void destructionReportsNoDisconnection();

private:
    // Waits for the comparison that makes the monitor's list match the bus.
    void settle(DeviceMonitor& monitor, const Interfaces& bus);
    void record(DeviceMonitor& monitor);

    std::unique_ptr<FakeHidBackend> bus;
    QStringList events;
};

void TestDeviceMonitor::init()
{
    bus = std::make_unique<FakeHidBackend>();
    events.clear();
}

void TestDeviceMonitor::cleanup()
{
    bus.reset();
}

void TestDeviceMonitor::record(DeviceMonitor& monitor)
{
    connect(&monitor, &DeviceMonitor::connected, this, [this](const Connection& connection) {
        events << QStringLiteral("+%1 %2 %3")
                      .arg(connection.path)
                      .arg(connection.model)
                      .arg(connection.serialNumber);
    });
    connect(
        &monitor, &DeviceMonitor::disconnected, this, [this](const QString& path) { events << "-" + path; });
}

void TestDeviceMonitor::reportsPresentDeviceAfterFirstPoll()
{
    bus->plug("/dev/hidraw3", 0x0043, QStringLiteral("PLUS-1"));
    DeviceMonitor monitor;
    record(monitor);
    monitor.start();
    QCoreApplication::processEvents();
    // Nothing is enumerated at start; the first poll comes with the first timer tick.
    QCOMPARE(bus->enumerationCount(), 0);
    QVERIFY(events.isEmpty());
    QVERIFY(monitor.connections().isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 3000);
    QCOMPARE(events.first(), QStringLiteral("+/dev/hidraw3 1 PLUS-1"));
    QCOMPARE(bus->enumerationCount(), 1);
    QCOMPARE(describe(monitor.connections()), QStringList { QStringLiteral("/dev/hidraw3 1 PLUS-1") });
}

void TestDeviceMonitor::reportsChanges_data()
{
    QTest::addColumn<Interfaces>("before");
    QTest::addColumn<Interfaces>("after");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("two interfaces of one device, in enumeration order")
        << Interfaces {} << Interfaces { pelkPlus("/dev/b", "X"), pelkPlus("/dev/a", "X") }
        << QStringList { "+/dev/b 1 X", "+/dev/a 1 X" };
    QTest::newRow("the interface on the vendor-defined usage page first")
        << Interfaces {} << Interfaces { pelkPlus("/dev/b", "X"), { "/dev/a", 0x0043, "X", 0x1210, 0xFF00 } }
        << QStringList { "+/dev/a 1 X", "+/dev/b 1 X" };
    QTest::newRow("a collection of its own path on another page is no connection")
        << Interfaces {}
        << Interfaces { { "hid#vid_1210&pid_0043&col01", 0x0043, "X", 0x1210, 0x000C },
               { "hid#vid_1210&pid_0043&col02", 0x0043, "X", 0x1210, 0xFF00 } }
        << QStringList { "+hid#vid_1210&pid_0043&col02 1 X" };
    QTest::newRow("one node listed once per usage is one connection")
        << Interfaces {}
        << Interfaces { pelkPlus("/dev/a", "X"), pelkPlus("/dev/a", "X"), pelkPlus("/dev/a", "X") }
        << QStringList { "+/dev/a 1 X" };
    QTest::newRow("a node listed twice leaves once")
        << Interfaces { pelkPlus("/dev/a", "X"), pelkPlus("/dev/a", "X"), pelk("/dev/b", "Y") }
        << Interfaces { pelk("/dev/b", "Y") } << QStringList { "-/dev/a" };
    QTest::newRow("one of two unplugged") << Interfaces { pelk("/dev/a"), pelkPlus("/dev/b") }
                                          << Interfaces { pelkPlus("/dev/b") } << QStringList { "-/dev/a" };
    QTest::newRow("serial number changes on the same path")
        << Interfaces { pelk("/dev/a", "OLD") } << Interfaces { pelk("/dev/a", "NEW") } << QStringList {};
    QTest::newRow("model changes on the same path")
        << Interfaces { pelk("/dev/a", "S") } << Interfaces { pelkPlus("/dev/a", "S") }
        << QStringList { "-/dev/a", "+/dev/a 1 S" };
    QTest::newRow("other products and vendors ignored")
        << Interfaces {}
        << Interfaces { { "/dev/x", 0x0044, "X", 0x1210 }, { "/dev/y", 0x0042, "Y", 0x1211 },
               pelk("/dev/a", "S") }
        << QStringList { "+/dev/a 0 S" };
    QTest::newRow("disconnections before connections")
        << Interfaces { pelk("/dev/a", "A"), pelk("/dev/b", "B") }
        << Interfaces { pelk("/dev/c", "C"), pelk("/dev/b", "B"), pelkPlus("/dev/d", "D") }
        << QStringList { "-/dev/a", "+/dev/c 0 C", "+/dev/d 1 D" };
    QTest::newRow("bus empties") << Interfaces { pelk("/dev/a"), pelkPlus("/dev/b") } << Interfaces {}
                                 << QStringList { "-/dev/a", "-/dev/b" };
    QTest::newRow("no serial number")
        << Interfaces {} << Interfaces { { "/dev/a", 0x0042, QString(), 0x1210 } }
        << QStringList { "+/dev/a 0 " };
}

void TestDeviceMonitor::settle(DeviceMonitor& monitor, const Interfaces& bus)
{
    QTRY_COMPARE_WITH_TIMEOUT(describe(monitor.connections()), describe(bus), 4000);
}

void TestDeviceMonitor::reportsChanges()
{
    QFETCH(Interfaces, before);
    QFETCH(Interfaces, after);
    QFETCH(QStringList, expected);

    DeviceMonitor monitor;
    bus->setInterfaces(before);
    monitor.start();
    settle(monitor, before);
    if (QTest::currentTestFailed())
        return;

    record(monitor);
    for (const QString& event : qAsConst(expected)) {
        const QString path = event.mid(1).section(QLatin1Char(' '), 0, 0);
        const bool appeared = event.startsWith(QLatin1Char('+'));
        const Interfaces& side = appeared ? after : before;
        const auto entry = std::find_if(side.cbegin(), side.cend(),
            [&path](const FakeHidBackend::Interface& e) { return QString::fromLatin1(e.path) == path; });
        QVERIFY(entry != side.cend());
        const QString line = QStringLiteral("%1 \"%2\" \"%3\"")
                                 .arg(appeared ? "Connected:" : "Disconnected:", entry->serialNumber, path);
        QTest::ignoreMessage(QtDebugMsg, line.toUtf8().constData());
    }
    bus->setInterfaces(after);
    settle(monitor, after);
    QCOMPARE(events, expected);
}

void TestDeviceMonitor::startTwiceKeepsOneTimer()
{
    bus->plug("/dev/a", 0x0042, QStringLiteral("S1"));
    DeviceMonitor monitor;
    record(monitor);
    monitor.start();
    monitor.start();
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 3000);
    bus->unplug("/dev/a");
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 3000);
    // One timer polls once a second: the second poll is the one that saw the device gone. A second
    // timer would have enumerated at least twice more by then.
    QCOMPARE(bus->enumerationCount(), 2);
    QCOMPARE(events, (QStringList { "+/dev/a 0 S1", "-/dev/a" }));
}

void TestDeviceMonitor::pollsWithInterruptsBlocked()
{
    bus->plug("/dev/a", 0x0042);
    DeviceMonitor monitor;
    QSignalSpy connected(&monitor, &DeviceMonitor::connected);
    monitor.start();
    QVERIFY(connected.wait(3000));
    QVERIFY(bus->enumerationCount() >= 1);
    QCOMPARE(bus->callsOpenToInterrupts(), 0);
}

void TestDeviceMonitor::destructionReportsNoDisconnection()
{
    bus->plug("/dev/a", 0x0042);
    int disconnections = 0;
    {
        DeviceMonitor monitor;
        connect(&monitor, &DeviceMonitor::disconnected, this, [&disconnections] { ++disconnections; });
        QSignalSpy connected(&monitor, &DeviceMonitor::connected);
        monitor.start();
        QVERIFY(connected.wait(3000));
        QCOMPARE(connected.first().first().value<Connection>().path, QStringLiteral("/dev/a"));
    }
    const int enumerations = bus->enumerationCount();
    QCoreApplication::processEvents();
    QCOMPARE(disconnections, 0);
    QCOMPARE(bus->enumerationCount(), enumerations);
}

PELK_TEST_MAIN(TestDeviceMonitor, PelkPlus::ConsoleTest)

#include "tst_DeviceMonitor.moc"
