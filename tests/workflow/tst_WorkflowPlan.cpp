#include "workflow/WorkflowPlan.h"

#include "device/DeviceModel.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// The plan's life: made from the source a check kept, re-made from it until the next fetch, walked
// entry by entry, and gone after its last entry.
class tst_WorkflowPlan : public QObject
{
    Q_OBJECT

private slots:
    void make_data();
    void make();
};

void tst_WorkflowPlan::make_data()
{
    QTest::addColumn<bool>("forceAll");
    QTest::addColumn<QString>("dspOffered");
    QTest::addColumn<int>("planned");

    // The device holds DSP 3.1.0.
    QTest::newRow("newer firmware") << false << "3.1.1" << 1;
    QTest::newRow("same firmware") << false << "3.1.0" << 0;
    QTest::newRow("same firmware, forced") << true << "3.1.0" << 1;
}

void tst_WorkflowPlan::make()
{
    QFETCH(bool, forceAll);
    QFETCH(QString, dspOffered);
    QFETCH(int, planned);

    WorkflowPlan plan;
    QVERIFY(plan.needsSource());
    Component dsp;
    dsp.type = ComponentType::DspFirmware;
    dsp.version = dspOffered;
    const QDateTime checked = QDateTime::fromSecsSinceEpoch(1000000, Qt::UTC);
    plan.setSource({ dsp }, checked, true);
    QVERIFY(!plan.needsSource());
    QVERIFY(plan.isSourceVerified());

    DeviceInfo info;
    info.model = Plus;
    info.mcuVersion = parseFirmwareVersion(QStringLiteral("3.1.2"));
    info.dspVersion = parseFirmwareVersion(QStringLiteral("3.1.0"));
    QCOMPARE(plan.make(info, forceAll), planned > 0);
    QCOMPARE(plan.components().size(), planned);
    QCOMPARE(plan.lastChecked(), checked);

    // Walked entry by entry; after the last the plan is gone.
    QCOMPARE(plan.currentIndex(), -1);
    QVERIFY(!plan.currentEntry());
    for (int entry = 0; entry < planned; ++entry) {
        QVERIFY(plan.advance());
        QCOMPARE(plan.currentEntry()->type, ComponentType::DspFirmware);
    }
    QVERIFY(!plan.advance());
    QVERIFY(plan.components().isEmpty());
    QCOMPARE(plan.currentIndex(), -1);

    // A fetch asks for the catalogue's data again; a reset keeps the source, forgetting drops it.
    plan.reset();
    QVERIFY(plan.hasSource());
    plan.beginFetch();
    QVERIFY(plan.isFetching() && plan.needsSource());
    plan.endFetch();
    QVERIFY(!plan.isFetching());
    plan.forgetSource();
    QVERIFY(!plan.hasSource());
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowPlan, PelkPlus::ConsoleTest)
#include "tst_WorkflowPlan.moc"
