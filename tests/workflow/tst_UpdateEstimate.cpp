#include "device/DeviceModel.h"
#include "workflow/UpdateEstimate.h"
#include "support/TestMain.h"
#include "workflow/UpdatePlanner.h"

#include <QtTest>

#include <limits>

namespace PelkPlus {

// The time of an update from its plan: each component's reports, sector pauses, ready check and
// restart, and the sum as a person says it.
class tst_UpdateEstimate : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void plan();
    void spokenText_data();
    void spokenText();
};

void tst_UpdateEstimate::steps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("model");
    QTest::addColumn<qint64>("readyMs");
    QTest::addColumn<qint64>("streamMs");
    QTest::addColumn<qint64>("pauseMs");
    QTest::addColumn<qint64>("rebootMs");

    const int mcu = int(ComponentType::McuFirmware);
    const int dsp = int(ComponentType::DspFirmware);
    const int styles = int(ComponentType::Styles);
    const int ensemble = int(ComponentType::EnsembleAudio);
    // Data packets until the read after the last byte, then the end packet.
    QTest::newRow("mcu empty") << mcu << qint64(0) << int(Plus) << qint64(0) << qint64(2) << qint64(0)
                               << qint64(3500);
    QTest::newRow("mcu 55 bytes") << mcu << qint64(55) << int(Plus) << qint64(0) << qint64(2) << qint64(0)
                                  << qint64(3500);
    QTest::newRow("mcu 56 bytes: a zero packet more")
        << mcu << qint64(56) << int(Plus) << qint64(0) << qint64(3) << qint64(0) << qint64(3500);
    QTest::newRow("mcu 200 KB") << mcu << qint64(204800) << int(Plus) << qint64(0) << qint64(3659)
                                << qint64(0) << qint64(3500);
    QTest::newRow("mcu on a Pelk waits 3 s for readiness")
        << mcu << qint64(204800) << int(Base) << qint64(3000) << qint64(3659) << qint64(0) << qint64(3500);
    // 10000 values of five characters: 185 full packets of 54, one part-filled, the end packet.
    QTest::newRow("dsp 10000 values")
        << dsp << qint64(50000) << int(Plus) << qint64(0) << qint64(187) << qint64(0) << qint64(3500);
    QTest::newRow("styles one byte: a whole sector")
        << styles << qint64(1) << int(Plus) << qint64(0) << qint64(1172) << qint64(2100) << qint64(3500);
    QTest::newRow("styles two sectors exactly")
        << styles << qint64(131072) << int(Plus) << qint64(0) << qint64(2343) << qint64(4200) << qint64(3500);
    QTest::newRow("styles a byte over two sectors")
        << styles << qint64(131073) << int(Plus) << qint64(0) << qint64(3514) << qint64(6300) << qint64(3500);
    QTest::newRow("ensemble 13 MiB on a Pelk+") << ensemble << qint64(208 * 65536) << int(Plus) << qint64(0)
                                                << qint64(243569) << qint64(436800) << qint64(3500);
    QTest::newRow("ensemble 5 MiB on a Pelk") << ensemble << qint64(80 * 65536) << int(Base) << qint64(3000)
                                              << qint64(93681) << qint64(168000) << qint64(3500);
    QTest::newRow("a size that cannot be")
        << styles << qint64(-5) << int(Plus) << qint64(0) << qint64(1) << qint64(0) << qint64(3500);
    // A size no image can have, as a HEAD answer may announce it: the largest one, no overflow.
    QTest::newRow("ensemble of 2^63-1 bytes")
        << ensemble << std::numeric_limits<qint64>::max() << int(Plus) << qint64(0) << qint64(599553)
        << qint64(1075200) << qint64(3500);
    QTest::newRow("an updater package is not sent")
        << int(ComponentType::WindowsApplication) << qint64(4096) << int(Base) << qint64(0) << qint64(0)
        << qint64(0) << qint64(0);
}

void tst_UpdateEstimate::steps()
{
    QFETCH(int, type);
    QFETCH(qint64, size);
    QFETCH(int, model);
    QFETCH(qint64, readyMs);
    QFETCH(qint64, streamMs);
    QFETCH(qint64, pauseMs);
    QFETCH(qint64, rebootMs);

    const UpdateEstimate::Steps steps = UpdateEstimate::stepsFor(ComponentType(type), size, model);
    QCOMPARE(steps.readyCheckMs, readyMs);
    QCOMPARE(steps.streamMs, streamMs);
    QCOMPARE(steps.sectorPauseMs, pauseMs);
    QCOMPARE(steps.rebootMs, rebootMs);
    QCOMPARE(steps.totalMs(), readyMs + streamMs + pauseMs + rebootMs);
}

void tst_UpdateEstimate::plan()
{
    QList<Component> plan;
    for (const auto& entry : { qMakePair(ComponentType::McuFirmware, qint64(204800)),
             qMakePair(ComponentType::Styles, qint64(131072)) }) {
        Component component;
        component.type = entry.first;
        component.size = entry.second;
        plan.append(component);
    }
    const UpdateEstimate estimate = UpdateEstimate::forPlan(plan, Plus);
    QCOMPARE(estimate.components().size(), 2);
    QCOMPARE(estimate.beforeMs(0), qint64(0));
    QCOMPARE(estimate.beforeMs(1), qint64(3659 + 3500));
    QCOMPARE(estimate.totalMs(), qint64(3659 + 3500 + 2343 + 4200 + 3500));
    QCOMPARE(estimate.beforeMs(7), estimate.totalMs());
    QCOMPARE(estimate.text(), QStringLiteral("about 20 seconds"));
    QVERIFY(UpdateEstimate().isEmpty());
    // The sizes shown beside it round up without overflowing.
    QCOMPARE(UpdatePlanner::kilobytesText(1025), QStringLiteral("2"));
    QCOMPARE(
        UpdatePlanner::kilobytesText(std::numeric_limits<qint64>::max()), QStringLiteral("9007199254740992"));
    QCOMPARE(UpdateEstimate().totalMs(), qint64(0));
}

void tst_UpdateEstimate::spokenText_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << qint64(0) << "a few seconds";
    QTest::newRow("below zero") << qint64(-3000) << "a few seconds";
    QTest::newRow("9.4 s") << qint64(9400) << "a few seconds";
    QTest::newRow("9.6 s") << qint64(9600) << "about 10 seconds";
    QTest::newRow("14 s") << qint64(14000) << "about 10 seconds";
    QTest::newRow("15 s") << qint64(15000) << "about 20 seconds";
    QTest::newRow("38 s") << qint64(38000) << "about 40 seconds";
    QTest::newRow("54 s") << qint64(54000) << "about 50 seconds";
    QTest::newRow("55 s") << qint64(55000) << "about 1 minute";
    QTest::newRow("89 s") << qint64(89000) << "about 1 minute";
    QTest::newRow("90 s") << qint64(90000) << "about 2 minutes";
    QTest::newRow("2 min 59 s") << qint64(179000) << "about 3 minutes";
    QTest::newRow("12 min 40 s") << qint64(760000) << "about 13 minutes";
    QTest::newRow("89 min") << qint64(89 * 60000) << "about 89 minutes";
    QTest::newRow("95 min") << qint64(95 * 60000) << "about 1.5 hours";
    QTest::newRow("2 h 10 min") << qint64(130 * 60000) << "about 2 hours";
}

void tst_UpdateEstimate::spokenText()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(UpdateEstimate::spokenText(ms), text);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdateEstimate, PelkPlus::ConsoleTest)

#include "tst_UpdateEstimate.moc"
