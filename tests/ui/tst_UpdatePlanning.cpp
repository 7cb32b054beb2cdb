// Update planning of the real window: a simulated device's versions against the versions a manifest
// offers, and the heading, warnings and list that show the plan.
#include "app/ApplicationSetup.h"
#include "app/ConfigurationManager.h"
#include "device/DeviceAgent.h"
#include "device/DeviceInfo.h"
#include "support/StateTrail.h"
#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"
#include "update/CatalogueSignature.h"
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

// Devices by the name the rows use. Every Pelk+ carries DSP Production 1.0, Styles 0x12 and
// Ensemble Audio 15.
SimulatedDeviceSettings deviceNamed(const QString& name)
{
    SimulatedDeviceSettings settings;
    settings.model = name == QLatin1String("pelk") ? Base : Plus;
    settings.mcuWord = 0x0312;
    settings.dspWord = 0x0310;
    settings.stylesVersion = 0x0012;
    settings.ensembleVersion = 15;
    if (name == QLatin1String("pelk+ alpha 6.3"))
        settings.mcuWord = 0x0063;
    else if (name == QLatin1String("pelk+ alpha 6.4"))
        settings.mcuWord = 0x0064;
    return settings;
}

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
    void logLines();
    void selectionAndForgetting();

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
        session->addDevice(deviceNamed(device));
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
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Family Name=\"PELK\">\n";
    QStringList products;
    for (const QString& component : components) {
        const QString product = component.section(QLatin1Char('|'), 0, 0);
        if (!products.contains(product))
            products.append(product);
    }
    for (const QString& product : qAsConst(products)) {
        xml += "<Product Name=\"" + product.toUtf8() + "\"><Components>\n";
        for (int i = 0; i < components.size(); ++i) {
            const QStringList fields = components.at(i).split(QLatin1Char('|'));
            if (fields.at(0) != product)
                continue;
            const QString path = QStringLiteral("/files/%1").arg(i);
            session->server.setFile(path, QByteArray(fields.at(3).toInt(), 'x'));
            xml += "<Component Name=\"" + fields.at(1).toUtf8() + "\" Version=\"" + fields.at(2).toUtf8()
                + "\" ReleaseDate=\"2024-04-18\" URL=\"" + session->server.url(path).toEncoded() + "\"/>\n";
        }
        xml += "</Components></Product>\n";
    }
    xml += "</Family>\n";
    session->server.setFile(UpdateCatalogue::manifestPath(), xml);
}

bool tst_UpdatePlanning::waitForIdle(int timeout)
{
    QElapsedTimer waited;
    waited.start();
    while (!(trail->isActive(QStringLiteral("idleState"))
        && trail->isActive(QStringLiteral("appCheckIdleState")))) {
        if (waited.elapsed() > timeout)
            return false;
        QTest::qWait(10);
    }
    return true;
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
    QElapsedTimer waited;
    waited.start();
    while (!trail->entered().contains(QStringLiteral("idleState"))) {
        if (waited.elapsed() > 10000)
            return false;
        QTest::qWait(10);
    }
    return true;
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

void tst_UpdatePlanning::plan()
{
    QFETCH(QString, device);
    QFETCH(QStringList, components);
    QFETCH(bool, forceAll);
    QFETCH(QStringList, items);
    QFETCH(bool, warning);

    WorkflowSession& s = sessionFor(device);
    publish(components);
    QSignalSpy available(s.workflow(), &UpdateWorkflow::updatesAvailable);
    QSignalSpy none(s.workflow(), &UpdateWorkflow::noUpdatesAvailable);
    QVERIFY(runPlanning(forceAll));

    QCOMPARE(s.planItems(), items);
    QCOMPARE(available.count(), items.isEmpty() ? 0 : 1);
    QCOMPARE(none.count(), items.isEmpty() ? 1 : 0);
    QVERIFY(trail->isActive(
        items.isEmpty() ? QStringLiteral("nothingToInstallState") : QStringLiteral("readyToInstallState")));
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
    UpdateCatalogue catalogue(&s.server);
    catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("0.6.5"), 2048);
    catalogue.setDigests(true);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    catalogue.setValidity(now, now.addDays(30));
    const CatalogueSignature::KeyPair key = CatalogueSignature::generateKeyPair();
    if (signedByTrustedKey) {
        QSettings().setValue(QStringLiteral("update/trusted-keys"),
            QString::fromLatin1(CatalogueSignature::encodeKey(key.publicKey)));
        catalogue.setSigningKeys({ key.secretKey });
    }
    catalogue.publish();
    const bool planned = runPlanning(false);
    QSettings().remove(QStringLiteral("update/trusted-keys"));
    QVERIFY(planned);

    QCOMPARE(s.planItems().size(), 1);
    const auto* note = s.child<QLabel>("catalogueNote");
    QCOMPARE(note->isHidden(), signedByTrustedKey);
    QCOMPARE(note->text(), signedByTrustedKey ? QString() : WorkflowNotifier::unverifiedCatalogueText());
}

void tst_UpdatePlanning::logLines()
{
    WorkflowSession& s = sessionFor(QStringLiteral("pelk+ alpha 6.3"));
    publish({ "PELK+|MP|3.2.0|10", "PELK+|DSP|3.1.1|10", "PELK+|Styles|18|10", "PELK+|Ensemble|017|10",
        "PELK+|Styles|0x13|10" });
    QVERIFY(runPlanning(false));

    const QStringList lines = s.log.lines();
    const int first = lines.lastIndexOf(QStringLiteral("Found MCU: \"3.2.0\" \"3.2.0\""));
    QVERIFY(first >= 0);
    const QStringList expected = { "Found MCU: \"3.2.0\" \"3.2.0\"", mcuWarning,
        "Found DSP: \"3.1.1\" \"3.1.1\"", "New DSP.", "Found Styles: \"0x12\" \"18\"",
        "Found Ensemble Audio: \"0xF\" \"017\"", "Found Styles: \"0x13\" \"0x13\"", "New Styles." };
    QCOMPARE(lines.mid(first, expected.size()), expected);

    // A newer MCU on firmware that can take it.
    WorkflowSession& newer = sessionFor(QStringLiteral("pelk+"));
    publish({ "PELK+|MP|3.2.0|10", "PELK+|Ensemble|0x10|10" });
    QVERIFY(runPlanning(false));
    const QStringList later = newer.log.lines();
    const int mcu = later.lastIndexOf(QStringLiteral("Found MCU: \"3.2.0\" \"3.2.0\""));
    QVERIFY(mcu >= 0);
    QCOMPARE(later.mid(mcu, 4),
        QStringList({ "Found MCU: \"3.2.0\" \"3.2.0\"", "New MCU", "Found Ensemble Audio: \"0x10\" \"0x10\"",
            "New Ensemble." }));
}

// The device chosen, refused and forgotten, as the log tells it.
void tst_UpdatePlanning::selectionAndForgetting()
{
    trail.reset();
    session.reset();
    sessionDevice.clear();

    WorkflowSession s;
    SimulatedDeviceSettings settings = deviceNamed(QStringLiteral("pelk+"));
    settings.serialNumber = QStringLiteral("PK000123");
    settings.path = QStringLiteral("sim/chosen");
    s.addDevice(settings);
    s.openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(s.selectionPageShown(), 15000);

    const QString selected = QStringLiteral("Selected device: \"PK000123\" \"sim/chosen\"");
    QStringList lines = s.log.lines();
    const int selecting = lines.indexOf(QStringLiteral("Selecting device..."));
    QVERIFY(selecting >= 0);
    QVERIFY2(lines.indexOf(selected) > selecting, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(lines.indexOf(QStringLiteral("Device ready.")) > lines.indexOf(selected));

    // A second selection while the agent lives is refused and leaves that agent alone.
    auto* agent = s.window->findChild<DeviceAgent*>();
    QVERIFY(agent);
    const QString description = s.deviceText();
    QSignalSpy failed(s.workflow(), &UpdateWorkflow::deviceFailure);
    QSignalSpy connected(s.workflow(), &UpdateWorkflow::deviceConnected);
    const int before = s.log.lines().size();
    s.workflow()->findChild<DeviceSelection*>()->selectDevice();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(connected.size(), 0);
    QCOMPARE(s.log.lines().mid(before),
        QStringList({ "Selecting device...", "Trying to select device, but device already selected." }));
    QCOMPARE(s.window->findChildren<DeviceAgent*>(), QList<DeviceAgent*>({ agent }));
    QCOMPARE(agent->connection().path, QStringLiteral("sim/chosen"));
    QTest::qWait(50);
    QVERIFY(s.selectionPageShown());
    QCOMPARE(s.deviceText(), description);

    // Unplugged: the agent goes, and the log names the connection it served.
    s.bus->run([](DeviceBus& bus) { bus.unplug(0); });
    QTRY_COMPARE_WITH_TIMEOUT(s.pages()->currentIndex(), 0, 5000);
    QTRY_VERIFY(!s.window->findChild<DeviceAgent*>());
    lines = s.log.lines();
    const int forgetting = lines.lastIndexOf(QStringLiteral("Forgetting device..."));
    QVERIFY(forgetting > selecting);
    QVERIFY(lines.indexOf(QStringLiteral("Forgotten device: \"PK000123\" \"sim/chosen\""), forgetting)
        > forgetting);

    // With no device at all there is nothing to select.
    failed.clear();
    const int unplugged = s.log.lines().size();
    s.workflow()->findChild<DeviceSelection*>()->selectDevice();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(connected.size(), 0);
    QCOMPARE(s.log.lines().mid(unplugged),
        QStringList({ "Selecting device...", "Trying to select device, but none available." }));
    QVERIFY(!s.window->findChild<DeviceAgent*>());
}

} // namespace PelkPlus

PELK_WINDOW_TEST_MAIN(PelkPlus::tst_UpdatePlanning)

#include "tst_UpdatePlanning.moc"
