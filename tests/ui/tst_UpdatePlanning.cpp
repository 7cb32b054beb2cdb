// Update planning as the window shows it: the heading, warnings, list and note beside a plan made
// from a simulated device's versions and the versions a manifest offers.
#include "app/ApplicationSetup.h"
#include "app/ConfigurationManager.h"
#include "device/DeviceInfo.h"
#include "support/PlanningRows.h"
#include "support/StateTrail.h"
#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"
#include "update/UpdateManager.h"
#include "workflow/DeviceSelection.h"
#include "workflow/WorkflowNotifier.h"

#include <QApplication>
#include <QLabel>
#include <QSettings>
#include <QStateMachine>
#include <QtTest>

namespace PelkPlus {

namespace {

const QString mcuWarning
    = QStringLiteral("An MCU update is available but your current MCU firmware cannot be "
                     "updated by USB. It must be programmed directly into the MCU.");

} // namespace

class tst_UpdatePlanning : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }
    void cleanupTestCase()
    {
        trail.reset();
        session.reset();
    }

    void plan_data();
    void plan();
    void catalogueNote_data();
    void catalogueNote();

private:
    // One window per device, kept for the rows that use the same one.
    WorkflowSession& sessionFor(const QString& device);
    // Serves a manifest of "product|name|version|size" entries, each with a file of that size.
    void publish(const QStringList& components);
    bool waitForIdle(int timeout = 15000);
    // Runs a check (or lists all components) and waits for the plan.
    bool runPlanning(bool forceAll);

    std::unique_ptr<WorkflowSession> session;
    std::unique_ptr<StateTrail> trail;
    QString sessionDevice;
};

WorkflowSession& tst_UpdatePlanning::sessionFor(const QString& device)
{
    if (!session || sessionDevice != device) {
        trail.reset();
        session.reset();
        session = std::make_unique<WorkflowSession>();
        session->addDevice(planningDevice(device));
        publish({});
        session->openWindow();
        trail = std::make_unique<StateTrail>(
            session->window->findChild<QStateMachine*>(QStringLiteral("stateMachine")));
        sessionDevice = device;
    }
    return *session;
}

void tst_UpdatePlanning::publish(const QStringList& components)
{
    publishPlanningManifest(session->server, components);
}

bool tst_UpdatePlanning::waitForIdle(int timeout)
{
    return QTest::qWaitFor(
        [this] {
            return trail->isActive(QStringLiteral("idleState"))
                && trail->isActive(QStringLiteral("appCheckIdleState"));
        },
        timeout);
}

bool tst_UpdatePlanning::runPlanning(bool forceAll)
{
    if (!waitForIdle())
        return false;
    trail->clear();
    if (forceAll)
        session->action(QStringLiteral("List All Components"))->trigger();
    else if (!session->click("checkUpdatesButton"))
        return false;
    return QTest::qWaitFor([this] { return trail->entered().contains(QStringLiteral("idleState")); }, 10000);
}

void tst_UpdatePlanning::plan_data()
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

    // How a plan reads on the selection page; what is planned is the engine's (tst_WorkflowPlanning).
    row("nothing newer", plus, { "PELK+|MP|3.1.2|2048" }, {});
    row("one newer component", plus, { "PELK+|MP|3.1.3|2048" },
        { "MCU Firmware: Version Production 1.3, Size 2 KB" });
    row("every type, in the manifest's order, sizes rounded up", plus,
        { "PELK+|Ensemble|0x10|1", "PELK+|DSP|3.2.0|1025", "PELK+|Styles|0x13|1024", "PELK+|MP|3.2.0|0" },
        { "Ensemble Audio: Version 0x10, Size 1 KB", "DSP Firmware: Version Production 2.0, Size 2 KB",
            "Styles: Version 0x13, Size 1 KB", "MCU Firmware: Version Production 2.0, Size 0 KB" });
    row("force all", plus, { "PELK+|MP|3.1.2|2048", "PELK+|DSP|2.0.0|3000" },
        { "MCU Firmware: Version Production 1.2, Size 2 KB",
            "DSP Firmware: Version Pre-production 0.0, Size 3 KB" },
        false, true);
    row("old mcu: newer mcu refused with a warning", "pelk+ alpha 6.3", { "PELK+|MP|3.1.0|2048" }, {}, true);
    row("old mcu: the rest is still planned", "pelk+ alpha 6.3",
        { "PELK+|MP|3.1.0|2048", "PELK+|DSP|3.2.0|2048" },
        { "DSP Firmware: Version Production 2.0, Size 2 KB" }, true);
}

void tst_UpdatePlanning::plan()
{
    QFETCH(QString, device);
    QFETCH(QStringList, components);
    QFETCH(bool, forceAll);
    QFETCH(QStringList, items);
    QFETCH(bool, warning);

    WorkflowSession& s = sessionFor(device);
    publish(components);
    QVERIFY(runPlanning(forceAll));

    QCOMPARE(s.planItems(), items);
    QCOMPARE(s.button("startUpdateButton")->isEnabled(), !items.isEmpty());

    // The items are there to be read, not chosen.
    const auto* list = s.child<QListWidget>("componentList");
    for (int i = 0; i < list->count(); ++i)
        QCOMPARE(list->item(i)->flags(), Qt::ItemFlags(Qt::ItemIsEnabled));

    const QDateTime checked = s.window->findChild<UpdateManager*>()->manifestTime();
    QVERIFY(checked.isValid());
    const MessageBox* heading = s.box("updatesHeading");
    QCOMPARE(heading->currentMode(), int(MessageMode::Information));
    if (items.isEmpty()) {
        QCOMPARE(heading->text(),
            QStringLiteral("No updates available (last checked on %1).").arg(checked.toString()));
    } else {
        QCOMPARE(heading->text(),
            QStringLiteral("The following components can be updated (last checked on %1):")
                .arg(checked.toString()));
    }

    const MessageBox* warnings = s.box("warningsBox");
    if (warning) {
        QCOMPARE(warnings->currentMode(), int(MessageMode::Warning));
        QCOMPARE(warnings->text(), QStringLiteral("WARNING:\n") + mcuWarning);
    } else {
        QCOMPARE(warnings->currentMode(), int(MessageMode::Hidden));
        QCOMPARE(warnings->text(), QString());
    }
}

void tst_UpdatePlanning::catalogueNote_data()
{
    QTest::addColumn<bool>("signedByTrustedKey");
    QTest::newRow("no key trusted") << false;
    QTest::newRow("signed by a trusted key") << true;
}

void tst_UpdatePlanning::catalogueNote()
{
    QFETCH(bool, signedByTrustedKey);

    WorkflowSession& s = sessionFor(QStringLiteral("pelk+ alpha 6.4"));
    publishSignedCatalogue(s.server, signedByTrustedKey);
    const bool planned = runPlanning(false);
    QSettings().remove(QStringLiteral("update/trusted-keys"));
    QVERIFY(planned);

    QCOMPARE(s.planItems().size(), 1);
    const auto* note = s.child<QLabel>("catalogueNote");
    QCOMPARE(note->isHidden(), signedByTrustedKey);
    QCOMPARE(note->text(), signedByTrustedKey ? QString() : WorkflowNotifier::unverifiedCatalogueText());
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdatePlanning, PelkPlus::WindowTest)

#include "tst_UpdatePlanning.moc"
