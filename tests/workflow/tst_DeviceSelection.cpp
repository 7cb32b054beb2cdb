#include "device/DeviceMonitor.h"
#include "workflow/DeviceSelection.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// Which connection the workflow may select: the preferred serial number filters the bus; during an
// update only the device being updated counts, found by serial number and model, or by its node
// where a serial number is missing.
class tst_DeviceSelection : public QObject
{
    Q_OBJECT

private slots:
    void selectable_data();
    void selectable();
    void selectNone();
};

namespace {

// "path|model|serial" or "path|model|serial|port", model 0 for a Pelk, 1 for a Pelk+.
QList<Connection> bus(const QStringList& rows)
{
    QList<Connection> connections;
    for (const QString& row : rows) {
        const QStringList parts = row.split(QLatin1Char('|'));
        connections.append(Connection(parts.at(0), parts.at(1).toInt(), parts.at(2)));
        connections.last().portPath = parts.value(3);
    }
    return connections;
}

} // namespace

void tst_DeviceSelection::selectable_data()
{
    QTest::addColumn<QStringList>("connections");
    QTest::addColumn<QString>("preferred");
    QTest::addColumn<QString>("updating"); // "" while no update runs
    QTest::addColumn<QString>("selected"); // the path, or "" for none

    const QStringList two { "a|1|PK1", "b|0|PK2" };
    QTest::newRow("first one found") << two << ""
                                     << ""
                                     << "a";
    QTest::newRow("the preferred one") << two << "PK2"
                                       << ""
                                       << "b";
    QTest::newRow("preferred one absent") << two << "PK9"
                                          << ""
                                          << "";
    QTest::newRow("empty bus") << QStringList() << ""
                               << ""
                               << "";
    QTest::newRow("updated device on a new node") << QStringList { "b|0|PK2", "c|1|PK1" } << ""
                                                  << "a|1|PK1"
                                                  << "c";
    QTest::newRow("only another device") << QStringList { "b|0|PK2" } << ""
                                         << "a|1|PK1"
                                         << "";
    QTest::newRow("same serial, other model") << QStringList { "c|0|PK1" } << ""
                                              << "a|1|PK1"
                                              << "";
    QTest::newRow("no serial: same node") << QStringList { "a|1|" } << ""
                                          << "a|1|"
                                          << "a";
    QTest::newRow("no serial: other node") << QStringList { "c|1|" } << ""
                                           << "a|1|"
                                           << "";
    QTest::newRow("serial unreadable after reboot") << QStringList { "c|1|", "a|1|" } << ""
                                                    << "a|1|PK1"
                                                    << "a";
    // Without a serial number the USB port tells; where nothing does, only the user's choice.
    QTest::newRow("no serial: other node, same port") << QStringList { "b|1||p2", "c|1||p1" } << ""
                                                      << "a|1||p1"
                                                      << "c";
    QTest::newRow("no serial: other node, other port") << QStringList { "c|1||p2" } << ""
                                                       << "a|1||p1"
                                                       << "";
    QTest::newRow("serial read empty, same port") << QStringList { "c|1||p1" } << ""
                                                  << "a|1|PK1|p1"
                                                  << "c";
    QTest::newRow("no serial, no port: two alike") << QStringList { "b|1|", "c|1|" } << ""
                                                   << "a|1|"
                                                   << "";
    QTest::newRow("no serial, no port: the one chosen") << QStringList { "b|1|", "c|1|" } << "chosen c"
                                                        << "a|1|"
                                                        << "c";
    QTest::newRow("preferred filters the updated one") << QStringList { "a|1|PK1" } << "PK2"
                                                       << "a|1|PK1"
                                                       << "";
}

void tst_DeviceSelection::selectable()
{
    QFETCH(QStringList, connections);
    QFETCH(QString, preferred);
    QFETCH(QString, updating);
    QFETCH(QString, selected);

    const std::optional<Connection> updated
        = updating.isEmpty() ? std::nullopt : std::optional<Connection>(bus({ updating }).first());
    // "chosen P": the user named the candidate at P.
    const bool chosen = preferred.startsWith(QLatin1String("chosen "));
    const std::optional<Connection> found = DeviceSelection::selectableAmong(
        DeviceSelection::preferredAmong(bus(connections), chosen ? QString() : preferred), updated,
        chosen ? preferred.mid(7) : QString());
    QCOMPARE(found ? found->path : QString(), selected);
}

// Alone, on a monitor that has listed nothing: there is no device to select, as its signals say.
void tst_DeviceSelection::selectNone()
{
    DeviceMonitor monitor;
    DeviceSelection selection(&monitor);
    QSignalSpy failed(&selection, &DeviceSelection::deviceFailure);
    QSignalSpy connected(&selection, &DeviceSelection::deviceConnected);
    selection.selectDevice();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(connected.count(), 0);
    QVERIFY(!selection.agent());
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_DeviceSelection, PelkPlus::ConsoleTest)
#include "tst_DeviceSelection.moc"
