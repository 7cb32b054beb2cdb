#include "BusDevices.h"
#include "support/TestMain.h"

#include <QSignalSpy>
#include <QtTest>

using namespace PelkPlus;

namespace {

SimulatedDeviceSettings named(const char* path, int interfaces, int duplicates)
{
    SimulatedDeviceSettings settings;
    settings.path = QLatin1String(path);
    settings.interfaces = interfaces;
    settings.duplicateEntries = duplicates;
    return settings;
}

// The paths of an enumeration, in the order listed, up to the empty line that ends it.
QStringList listedPaths(const QByteArray& enumeration)
{
    QStringList paths;
    for (const QByteArray& line : enumeration.split('\n')) {
        if (line.isEmpty())
            break;
        paths.append(QString::fromUtf8(line.split('\t').first()));
    }
    return paths;
}

} // namespace

class tst_BusDevices : public QObject
{
    Q_OBJECT

private slots:
    void listsAndFinds_data();
    void listsAndFinds();
    void comingsAndGoings();
};

void tst_BusDevices::listsAndFinds_data()
{
    QTest::addColumn<int>("interfaces");
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<bool>("secondPlugged");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<int>("device"); // found at path; -1 none
    QTest::addColumn<int>("interfaceIndex");

    QTest::newRow("one interface each")
        << 1 << 1 << true << "sim/b" << QStringList { "sim/a", "sim/b" } << 1 << 0;
    QTest::newRow("the second interface by its number")
        << 2 << 1 << true << "sim/a:1" << QStringList { "sim/a", "sim/a:1", "sim/b", "sim/b:1" } << 0 << 1;
    QTest::newRow("listed twice, found once")
        << 1 << 2 << true << "sim/a" << QStringList { "sim/a", "sim/a", "sim/b", "sim/b" } << 0 << 0;
    QTest::newRow("unplugged: neither listed nor found")
        << 1 << 1 << false << "sim/b" << QStringList { "sim/a" } << -1 << 0;
    QTest::newRow("no such interface")
        << 1 << 1 << true << "sim/a:1" << QStringList { "sim/a", "sim/b" } << -1 << 0;
}

void tst_BusDevices::listsAndFinds()
{
    QFETCH(int, interfaces);
    QFETCH(int, duplicates);
    QFETCH(bool, secondPlugged);
    QFETCH(QString, path);
    QFETCH(QStringList, listed);
    QFETCH(int, device);
    QFETCH(int, interfaceIndex);

    BusDevices devices;
    devices.add(named("sim/a", interfaces, duplicates));
    devices.add(named("sim/b", interfaces, duplicates));
    if (!secondPlugged)
        devices.unplug(1);
    const QByteArray enumeration = devices.enumeration();
    QCOMPARE(listedPaths(enumeration), listed);
    QVERIFY(enumeration.endsWith("\n\n"));
    // Path, vendor, product, serial number and USB port (its place on the bus), as the virtual bus
    // backend reads them.
    QVERIFY2(enumeration.startsWith("sim/a\t1210\t"
                 + QByteArray::number(productIdForModel(Plus), 16).rightJustified(4, '0')
                 + "\tPK000001\tsim-port-1\n"),
        enumeration.constData());

    int index = -1;
    int number = -1;
    QCOMPARE(devices.find(path, &index, &number), device >= 0);
    if (device >= 0) {
        QCOMPARE(index, device);
        QCOMPARE(number, interfaceIndex);
    }
}

void tst_BusDevices::comingsAndGoings()
{
    BusDevices devices;
    SimulatedDeviceSettings late = named("sim/late", 1, 1);
    late.refuseOpenMs = 60000;
    late.rebootMs = 20;
    late.returnPath = QStringLiteral("sim/back");
    devices.add(late);
    devices.add(named("sim/ready", 1, 1));
    QVERIFY(devices.refusesOpen(0));
    QVERIFY(!devices.refusesOpen(1));

    QSignalSpy unplugged(&devices, &BusDevices::unplugged);
    devices.unplug(1);
    devices.unplug(1);
    QCOMPARE(unplugged.size(), 1); // a device leaves the bus once
    devices.powerCycle(0);
    QCOMPARE(unplugged.size(), 2);
    QCOMPARE(unplugged.last().first().toInt(), 0);
    QVERIFY(!devices.isPlugged(0));
    QTRY_VERIFY(devices.isPlugged(0));
    QVERIFY(!devices.isPlugged(1));
    int found = -1;
    int interfaceIndex = -1;
    QVERIFY(devices.find(QStringLiteral("sim/back"), &found, &interfaceIndex));
    QCOMPARE(found, 0);
    // Back on the bus, it is as new: the wait for access starts again.
    QVERIFY(devices.refusesOpen(0));
}

PELK_TEST_MAIN(tst_BusDevices, PelkPlus::ConsoleTest)
#include "tst_BusDevices.moc"
