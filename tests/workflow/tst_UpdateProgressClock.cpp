#include "device/DeviceModel.h"
#include "workflow/UpdateProgressClock.h"
#include "support/TestMain.h"

#include <QSignalSpy>
#include <QtTest>

namespace PelkPlus {

// The whole update's progress from its phases, the transfer's share and the time that passed.
class tst_UpdateProgressClock : public QObject
{
    Q_OBJECT

private slots:
    void progress_data();
    void progress();
    void heartbeat();
    void told_data();
    void told();
    void text_data();
    void text();
};

namespace {

// MCU firmware of 200 KB (3659 ms of reports) and two Styles sectors (2343 ms and 4200 ms of
// pauses), each followed by a 3.5 s restart: 17202 ms in all on a Pelk+.
UpdateEstimate twoComponents()
{
    QList<Component> plan;
    Component mcu;
    mcu.type = ComponentType::McuFirmware;
    mcu.size = 204800;
    Component styles;
    styles.type = ComponentType::Styles;
    styles.size = 131072;
    return UpdateEstimate::forPlan({ mcu, styles }, Plus);
}

// One step of a run: at the time, the phase entered with the component's index, or a transfer
// share when phase is -1.
struct Step
{
    qint64 atMs;
    int phase;
    int index;
    double fraction;
};

// Runs the clock through the steps of twoComponents() (-2: a question asked) and sets it at nowMs.
void play(UpdateProgressClock& clock, qint64& now, const QList<Step>& steps, qint64 nowMs)
{
    clock.setTimeSource([&now] { return now; });
    clock.begin(twoComponents());
    for (const Step& step : steps) {
        now = step.atMs;
        if (step.phase == -2)
            clock.awaitAnswer(true);
        else if (step.phase < 0)
            clock.setTransferFraction(step.fraction);
        else
            clock.enterPhase(WorkflowPhase(step.phase), step.index);
    }
    now = nowMs;
}

} // namespace

} // namespace PelkPlus

Q_DECLARE_METATYPE(QList<PelkPlus::Step>)

namespace PelkPlus {

void tst_UpdateProgressClock::progress_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<int>("component");

    using P = WorkflowPhase;
    const int transfer = -1;
    QTest::newRow("downloading: nothing done")
        << QList<Step> { { 0, int(P::Downloading), -1, 0 } } << qint64(30000) << qint64(0) << 0;
    QTest::newRow("a Pelk+ ready check counts nothing")
        << QList<Step> { { 0, int(P::AwaitingUpdateMode), 0, 0 } } << qint64(5000) << qint64(0) << 0;
    QTest::newRow("sending at half, on time")
        << QList<Step> { { 0, int(P::Installing), 0, 0 }, { 1800, transfer, 0, 0.5 } } << qint64(1830)
        << qint64(1830) << 0;
    QTest::newRow("sending slower than estimated: the share counts")
        << QList<Step> { { 0, int(P::Installing), 0, 0 }, { 3000, transfer, 0, 0.25 } } << qint64(3000)
        << qint64(3000) << 0;
    QTest::newRow("sending faster: the share leads")
        << QList<Step> { { 0, int(P::Installing), 0, 0 }, { 1000, transfer, 0, 0.5 } } << qint64(1000)
        << qint64(1829) << 0;
    QTest::newRow("longer than estimated: held at the transfer's end")
        << QList<Step> { { 0, int(P::Installing), 0, 0 } } << qint64(9000) << qint64(3659) << 0;
    QTest::newRow("restarting") << QList<Step> { { 0, int(P::Installing), 0, 0 },
        { 3700, int(P::AwaitingFinish), 0, 0 }, { 4500, int(P::AwaitingReboot), 0, 0 } }
                                << qint64(5700) << qint64(3659 + 2000) << 0;
    QTest::newRow("a restart longer than estimated")
        << QList<Step> { { 0, int(P::AwaitingFinish), 0, 0 } } << qint64(60000) << qint64(7159) << 0;
    // The clock runs through a sector's write pause with no transfer progress at all.
    QTest::newRow("second component in a sector pause")
        << QList<Step> { { 0, int(P::NextComponent), 1, 0 }, { 10, int(P::AwaitingUpdateMode), 1, 0 },
               { 20, int(P::Installing), 1, 0 }, { 1200, transfer, 1, 0.5 } }
        << qint64(2700) << qint64(7159 + 2680) << 1;
    QTest::newRow("after the last component")
        << QList<Step> { { 0, int(P::NextComponent), 2, 0 } } << qint64(100) << qint64(17202) << 1;
    QTest::newRow("the plan run out after its last component")
        << QList<Step> { { 0, int(P::NextComponent), 1, 0 }, { 50, int(P::NextComponent), -1, 0 } }
        << qint64(100) << qint64(17202) << 1;
}

void tst_UpdateProgressClock::progress()
{
    QFETCH(QList<Step>, steps);
    QFETCH(qint64, nowMs);
    QFETCH(qint64, done);
    QFETCH(int, component);

    qint64 now = 0;
    UpdateProgressClock clock;
    play(clock, now, steps, nowMs);
    QCOMPARE(clock.doneMs(), done);
    QCOMPARE(clock.remainingMs(), 17202 - done);
    QCOMPARE(clock.percent(), int(done * 100 / 17202));
    QCOMPARE(clock.component(), component);
}

void tst_UpdateProgressClock::heartbeat()
{
    UpdateProgressClock clock;
    QSignalSpy beats(&clock, &UpdateProgressClock::progressChanged);
    clock.begin(twoComponents());
    QCOMPARE(beats.size(), 1);
    QCOMPARE(beats.last().first().toString(),
        QStringLiteral("Component 1 of 2, 0 % of the update done, about 20 seconds left"));
    // Beats with nothing else happening.
    QVERIFY(beats.wait(UpdateProgressClock::heartbeatMs * 3));
    QCOMPARE(beats.size(), 2);
    clock.stop();
    QCOMPARE(beats.last().first().toString(), QString());
    QVERIFY(!clock.isRunning());
    QVERIFY(!beats.wait(UpdateProgressClock::heartbeatMs * 2));
}

// What the clock says: the time left, rounded as the estimate was first said, or what is awaited
// with the protocol's bound left (-2: a question asked).
void tst_UpdateProgressClock::told_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<QString>("text");

    using P = WorkflowPhase;
    const QString done = QStringLiteral("Component 1 of 2, %1 % of the update done, ");
    // 17.2 s were said as "about 20 seconds": 14.2 s left 3 s later are still that.
    QTest::newRow("no jump at the start")
        << QList<Step> { { 0, int(P::Installing), 0, 0 }, { 3000, -1, 0, 0.82 } } << qint64(3000)
        << done.arg(17) + "about 20 seconds left";
    QTest::newRow("restart") << QList<Step> { { 0, int(P::Installing), 0, 0 },
        { 3700, int(P::AwaitingFinish), 0, 0 }, { 4500, int(P::AwaitingReboot), 0, 0 } }
                             << qint64(7000)
                             << done.arg(40) + "waiting for the device to restart, up to 58 s";
    QTest::newRow("a Pelk+ getting ready")
        << QList<Step> { { 0, int(P::AwaitingUpdateMode), 0, 0 } } << qint64(5000)
        << done.arg(0) + "waiting for the device to get ready, up to 15 s";
    QTest::newRow("power cycle") << QList<Step> { { 0, int(P::AwaitingPowerCycle), 0, 0 } } << qint64(1000)
                                 << done.arg(27) + "waiting for you to switch the device off and on again";
    QTest::newRow("a question") << QList<Step> { { 0, int(P::Installing), 0, 0 }, { 100, -2, 0, 0 } }
                                << qint64(500) << done.arg(2) + "waiting for your answer";
}

void tst_UpdateProgressClock::told()
{
    QFETCH(QList<Step>, steps);
    QFETCH(qint64, nowMs);
    QFETCH(QString, text);

    qint64 now = 0;
    UpdateProgressClock clock;
    play(clock, now, steps, nowMs);
    QCOMPARE(clock.currentText(), text);
}

void tst_UpdateProgressClock::text_data()
{
    QTest::addColumn<int>("component");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qint64>("remaining");
    QTest::addColumn<QString>("text");

    QTest::newRow("first of four") << 0 << 4 << 0 << qint64(180000)
                                   << "Component 1 of 4, 0 % of the update done, about 3 minutes left";
    QTest::newRow("last, nearly done")
        << 3 << 4 << 98 << qint64(3500) << "Component 4 of 4, 98 % of the update done, a few seconds left";
    QTest::newRow("an index past the end")
        << 7 << 2 << 100 << qint64(0) << "Component 2 of 2, 100 % of the update done, a few seconds left";
}

void tst_UpdateProgressClock::text()
{
    QFETCH(int, component);
    QFETCH(int, count);
    QFETCH(int, percent);
    QFETCH(qint64, remaining);
    QFETCH(QString, text);
    QCOMPARE(UpdateProgressClock::text(component, count, percent, remaining), text);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdateProgressClock, PelkPlus::ConsoleTest)

#include "tst_UpdateProgressClock.moc"
