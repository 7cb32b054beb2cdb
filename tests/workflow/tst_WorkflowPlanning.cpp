// Update planning on the engine alone: a simulated device's versions against the versions a
// manifest offers, the plan and its warnings, the catalogue's trust, and the device's selection
// and forgetting as the log tells them.
#include "device/DeviceAgent.h"
#include "support/EngineFixture.h"
#include "support/PlanningRows.h"
#include "support/StateTrail.h"
#include "workflow/DeviceSelection.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QSettings>
#include <QtTest>

namespace PelkPlus {

namespace {

QStringList described(const QList<Component>& plan)
{
    QStringList lines;
    for (const Component& component : plan)
        lines.append(UpdatePlanner::describe(component));
    return lines;
}

} // namespace

class tst_WorkflowPlanning : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { forget(); }

    void plan_data();
    void plan();
    void catalogueTrust_data();
    void catalogueTrust();
    void logLines();
    void selectionAndForgetting();

private:
    // One workflow per device, kept for the rows that use the same one.
    EngineFixture& fixtureFor(const QString& device);
    void forget();
    // Serves a manifest of "product|name|version|size" entries, each with a file of that size.
    void publish(const QStringList& components);
    // Runs a check (or lists all components) and waits for the plan.
    bool runPlanning(bool forceAll);

    std::unique_ptr<EngineFixture> fixture;
    std::unique_ptr<StateTrail> trail;
    QString fixtureDevice;
};

EngineFixture& tst_WorkflowPlanning::fixtureFor(const QString& device)
{
    if (!fixture || fixtureDevice != device) {
        forget();
        fixture = std::make_unique<EngineFixture>();
        fixture->addDevice(planningDevice(device));
        publish({});
        fixture->start();
        trail = std::make_unique<StateTrail>(fixture->workflow()->regions()->machine());
        fixtureDevice = device;
    }
    return *fixture;
}

void tst_WorkflowPlanning::forget()
{
    trail.reset();
    fixture.reset();
    fixtureDevice.clear();
}

void tst_WorkflowPlanning::publish(const QStringList& components)
{
    publishPlanningManifest(fixture->server, components);
}

bool tst_WorkflowPlanning::runPlanning(bool forceAll)
{
    const auto idle = [this] {
        return trail->isActive(QLatin1String(WorkflowStates::idleState))
            && trail->isActive(QLatin1String(WorkflowStates::appCheckIdleState));
    };
    if (!QTest::qWaitFor(idle, 15000))
        return false;
    trail->clear();
    if (forceAll)
        fixture->workflow()->listAllComponents();
    else
        fixture->check();
    return QTest::qWaitFor(
        [this] { return trail->entered().contains(QLatin1String(WorkflowStates::idleState)); }, 10000);
}

void tst_WorkflowPlanning::plan_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("components");
    QTest::addColumn<bool>("forceAll");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<bool>("warning");

    const auto row = [](const char* name, const char* device, const QStringList& components,
                         const QStringList& items, bool warning = false, bool forceAll = false) {
        QTest::newRow(name) << QString::fromLatin1(device) << components << forceAll << items << warning;
    };
    const char* plus = "pelk+";

    // MCU and DSP firmware: newer by release type, then major, then minor.
    row("mcu equal", plus, { "PELK+|MP|3.1.2|2048" }, {});
    row("mcu newer minor", plus, { "PELK+|MP|3.1.3|2048" },
        { "MCU Firmware: Version Production 1.3, Size 2 KB" });
    row("mcu newer major", plus, { "PELK+|MP|3.2.0|2048" },
        { "MCU Firmware: Version Production 2.0, Size 2 KB" });
    row("mcu older release type", plus, { "PELK+|MP|2.9.9|2048" }, {});
    row("mcu two parts read as 0.0.0", plus, { "PELK+|MP|3.1|2048" }, {});
    row("dsp newer", plus, { "PELK+|DSP|3.1.1|2048" }, { "DSP Firmware: Version Production 1.1, Size 2 KB" });
    row("dsp older", plus, { "PELK+|DSP|2.9.9|2048" }, {});

    // Styles and Ensemble Audio: any difference, after the automatic base.
    row("styles hexadecimal equal", plus, { "PELK+|Styles|0x12|2048" }, {});
    row("styles decimal equal", plus, { "PELK+|Styles|18|2048" }, {});
    row("styles lower is planned", plus, { "PELK+|Styles|0x11|2048" }, { "Styles: Version 0x11, Size 2 KB" });
    row("styles cut to 16 bits", plus, { "PELK+|Styles|0x10012|2048" }, {});
    row("styles unreadable reads 0", plus, { "PELK+|Styles|zz|2048" }, { "Styles: Version 0x0, Size 2 KB" });
    row("ensemble octal equal", plus, { "PELK+|Ensemble|017|2048" }, {});
    row("ensemble decimal 15 equal", plus, { "PELK+|Ensemble|15|2048" }, {});
    row("ensemble newer, 32 bits", plus, { "PELK+|Ensemble|0x1000F|2048" },
        { "Ensemble Audio: Version 0x1000F, Size 2 KB" });

    // The plan keeps the manifest's order, whatever the types.
    row("manifest order kept", plus,
        { "PELK+|Ensemble|0x10|2048", "PELK+|DSP|3.2.0|2048", "PELK+|Styles|0x13|2048",
            "PELK+|MP|3.2.0|2048" },
        { "Ensemble Audio: Version 0x10, Size 2 KB", "DSP Firmware: Version Production 2.0, Size 2 KB",
            "Styles: Version 0x13, Size 2 KB", "MCU Firmware: Version Production 2.0, Size 2 KB" });
    row("two of one type compared alone", plus,
        { "PELK+|MP|3.2.0|2048", "PELK+|MP|3.0.0|2048", "PELK+|MP|3.3.0|2048" },
        { "MCU Firmware: Version Production 2.0, Size 2 KB",
            "MCU Firmware: Version Production 3.0, Size 2 KB" });
    row("sizes rounded up", plus,
        { "PELK+|MP|3.2.0|0", "PELK+|DSP|3.2.0|1025", "PELK+|Styles|0x13|1024", "PELK+|Ensemble|0x10|1" },
        { "MCU Firmware: Version Production 2.0, Size 0 KB",
            "DSP Firmware: Version Production 2.0, Size 2 KB", "Styles: Version 0x13, Size 1 KB",
            "Ensemble Audio: Version 0x10, Size 1 KB" });
    row("product not in the manifest", plus, { "PELK|MP|3.2.0|2048" }, {});

    // Everything listed, whatever its version and type.
    row("force all", plus, { "PELK+|MP|3.1.2|2048", "PELK+|DSP|2.0.0|3000" },
        { "MCU Firmware: Version Production 1.2, Size 2 KB",
            "DSP Firmware: Version Pre-production 0.0, Size 3 KB" },
        false, true);
    row("force all, other product only", plus, { "PELK|MP|3.2.0|2048" }, {}, false, true);

    // The base model has its own product, and no Styles.
    row("pelk: the pelk+ components are not its", "pelk",
        { "PELK|MP|3.1.2|2048", "PELK+|Styles|0x13|2048", "PELK+|MP|3.2.0|2048" }, {});
    row("pelk: its own newer firmware", "pelk", { "PELK|DSP|3.2.0|2048", "PELK+|DSP|3.3.0|2048" },
        { "DSP Firmware: Version Production 2.0, Size 2 KB" });

    // MCU firmware older than Alpha 6.4 cannot take an update by USB.
    row("old mcu: newer mcu refused with a warning", "pelk+ alpha 6.3", { "PELK+|MP|3.1.0|2048" }, {}, true);
    row("old mcu: the rest is still planned", "pelk+ alpha 6.3",
        { "PELK+|MP|3.1.0|2048", "PELK+|DSP|3.2.0|2048" },
        { "DSP Firmware: Version Production 2.0, Size 2 KB" }, true);
    row("old mcu: nothing newer, no warning", "pelk+ alpha 6.3", { "PELK+|MP|0.6.3|2048" }, {});
    // Reinstalling everything cannot reach an MCU without the USB boot loader either.
    row("old mcu: forced install leaves it out", "pelk+ alpha 6.3", { "PELK+|MP|3.1.0|2048" }, {}, true,
        true);
    row("alpha 6.4 takes an update", "pelk+ alpha 6.4", { "PELK+|MP|0.6.5|2048" },
        { "MCU Firmware: Version Alpha 6.5, Size 2 KB" });
}

void tst_WorkflowPlanning::plan()
{
    QFETCH(QString, device);
    QFETCH(QStringList, components);
    QFETCH(bool, forceAll);
    QFETCH(QStringList, items);
    QFETCH(bool, warning);

    EngineFixture& f = fixtureFor(device);
    publish(components);
    QSignalSpy available(f.workflow(), &UpdateWorkflow::updatesAvailable);
    QSignalSpy none(f.workflow(), &UpdateWorkflow::noUpdatesAvailable);
    QVERIFY(runPlanning(forceAll));

    QCOMPARE(described(f.workflow()->plan()), items);
    QCOMPARE(available.count(), items.isEmpty() ? 0 : 1);
    QCOMPARE(none.count(), items.isEmpty() ? 1 : 0);
    QVERIFY(trail->isActive(QLatin1String(
        items.isEmpty() ? WorkflowStates::nothingToInstallState : WorkflowStates::readyToInstallState)));
    QVERIFY(f.workflow()->lastChecked().isValid());
    QCOMPARE(f.workflow()->planWarnings(),
        warning ? QStringList { UpdatePlanner::mcuNotUpdatableWarning() } : QStringList());
    QVERIFY(f.messages.isEmpty());
}

void tst_WorkflowPlanning::catalogueTrust_data()
{
    QTest::addColumn<bool>("signedByTrustedKey");
    QTest::newRow("no key trusted") << false;
    QTest::newRow("signed by a trusted key") << true;
}

void tst_WorkflowPlanning::catalogueTrust()
{
    QFETCH(bool, signedByTrustedKey);

    EngineFixture& f = fixtureFor(QStringLiteral("pelk+ alpha 6.4"));
    publishSignedCatalogue(f.server, signedByTrustedKey);
    const bool planned = runPlanning(false);
    QSettings().remove(QStringLiteral("update/trusted-keys"));
    QVERIFY(planned);

    QCOMPARE(f.workflow()->plan().size(), 1);
    QCOMPARE(f.workflow()->isCatalogueVerified(), signedByTrustedKey);
}

void tst_WorkflowPlanning::logLines()
{
    const LogCapture& log = fixtureFor(QStringLiteral("pelk+ alpha 6.3")).log;
    publish({ "PELK+|MP|3.2.0|10", "PELK+|DSP|3.1.1|10", "PELK+|Styles|18|10", "PELK+|Ensemble|017|10",
        "PELK+|Styles|0x13|10" });
    QVERIFY(runPlanning(false));

    const QStringList lines = log.lines();
    const int first = lines.lastIndexOf(QStringLiteral("Found MCU: \"3.2.0\" \"3.2.0\""));
    QVERIFY(first >= 0);
    const QStringList expected = { "Found MCU: \"3.2.0\" \"3.2.0\"", UpdatePlanner::mcuNotUpdatableWarning(),
        "Found DSP: \"3.1.1\" \"3.1.1\"", "New DSP.", "Found Styles: \"0x12\" \"18\"",
        "Found Ensemble Audio: \"0xF\" \"017\"", "Found Styles: \"0x13\" \"0x13\"", "New Styles." };
    QCOMPARE(lines.mid(first, expected.size()), expected);

    // A newer MCU on firmware that can take it.
    const LogCapture& newer = fixtureFor(QStringLiteral("pelk+")).log;
    publish({ "PELK+|MP|3.2.0|10", "PELK+|Ensemble|0x10|10" });
    QVERIFY(runPlanning(false));
    const QStringList later = newer.lines();
    const int mcu = later.lastIndexOf(QStringLiteral("Found MCU: \"3.2.0\" \"3.2.0\""));
    QVERIFY(mcu >= 0);
    QCOMPARE(later.mid(mcu, 4),
        QStringList({ "Found MCU: \"3.2.0\" \"3.2.0\"", "New MCU", "Found Ensemble Audio: \"0x10\" \"0x10\"",
            "New Ensemble." }));
}

// The device chosen, refused and forgotten, as the log tells it.
void tst_WorkflowPlanning::selectionAndForgetting()
{
    forget();
    EngineFixture f;
    SimulatedDeviceSettings settings = planningDevice(QStringLiteral("pelk+"));
    settings.serialNumber = QStringLiteral("PK000123");
    settings.path = QStringLiteral("sim/chosen");
    f.addDevice(settings);
    f.catalogue.publish();
    const int start = f.log.lines().size();
    f.start();
    QVERIFY(f.waitForPhase(WorkflowPhase::Idle));

    const QString selected = QStringLiteral("Selected device: \"PK000123\" \"sim/chosen\"");
    QStringList lines = f.log.lines().mid(start);
    const int selecting = lines.indexOf(QStringLiteral("Selecting device..."));
    QVERIFY(selecting >= 0);
    QVERIFY2(lines.indexOf(selected) > selecting, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(lines.indexOf(QStringLiteral("Device ready.")) > lines.indexOf(selected));

    // A second selection while the agent lives is refused and leaves that agent alone.
    auto* agent = f.workflow()->findChild<DeviceAgent*>();
    QVERIFY(agent);
    QSignalSpy failed(f.workflow(), &UpdateWorkflow::deviceFailure);
    QSignalSpy connected(f.workflow(), &UpdateWorkflow::deviceConnected);
    const int before = f.log.lines().size();
    f.workflow()->findChild<DeviceSelection*>()->selectDevice();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(connected.size(), 0);
    QCOMPARE(f.log.lines().mid(before),
        QStringList({ "Selecting device...", "Trying to select device, but device already selected." }));
    QCOMPARE(f.workflow()->findChildren<DeviceAgent*>(), QList<DeviceAgent*>({ agent }));
    QCOMPARE(agent->connection().path, QStringLiteral("sim/chosen"));
    QTest::qWait(50);
    QCOMPARE(f.workflow()->phase(), WorkflowPhase::Idle);

    // Unplugged: the agent goes, and the log names the connection it served.
    f.unplug();
    QTRY_VERIFY_WITH_TIMEOUT(!f.workflow()->findChild<DeviceAgent*>(), 5000);
    QVERIFY(!f.workflow()->hasDevice());
    lines = f.log.lines().mid(start);
    const int forgetting = lines.lastIndexOf(QStringLiteral("Forgetting device..."));
    QVERIFY(forgetting > selecting);
    QVERIFY(lines.indexOf(QStringLiteral("Forgotten device: \"PK000123\" \"sim/chosen\""), forgetting)
        > forgetting);

    // With no device at all there is nothing to select.
    failed.clear();
    const int unplugged = f.log.lines().size();
    f.workflow()->findChild<DeviceSelection*>()->selectDevice();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(connected.size(), 0);
    QCOMPARE(f.log.lines().mid(unplugged),
        QStringList({ "Selecting device...", "Trying to select device, but none available." }));
    QVERIFY(!f.workflow()->findChild<DeviceAgent*>());
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowPlanning, PelkPlus::EngineTest)

#include "tst_WorkflowPlanning.moc"
