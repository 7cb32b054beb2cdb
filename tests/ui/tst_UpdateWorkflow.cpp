// The whole update workflow as the window shows it: the real window, simulated devices on the
// in-process virtual bus and the update catalogue on a loopback HTTP server, driven through the
// window's own buttons. What the device is asked and sent is the engine's (tst_WorkflowExecution).
#include "app/ApplicationSetup.h"
#include "device/DeviceProtocol.h"
#include "app/ConfigurationManager.h"
#include "app/PelkVersion.h"
#include "device/DeviceInfo.h"
#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"
#include "workflow/ComponentDownloads.h"
#include "workflow/DeviceSelection.h"
#include "workflow/PlanExecution.h"
#include "workflow/WorkflowStates.h"
#include "workflow/UpdateJournal.h"

#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace PelkPlus {

namespace {

const QString confirmationText
    = QStringLiteral("Waiting for confirmation that the update is finished...\n\nPlease DO NOT disconnect or "
                     "power down the device!");
const QString rebootText = QStringLiteral("Waiting for the device to reboot...");
const QString powerCycleText
    = QStringLiteral("Please power-cycle the device now.\n\nThe update was written to "
                     "the device; switching it off and on again finishes it.");
const QString mcuWarning
    = QStringLiteral("An MCU update is available but your current MCU firmware cannot be "
                     "updated by USB. It must be programmed directly into the MCU.");

// The catalogue of the family: newer versions of everything than the devices below carry.
void publishFamily(UpdateCatalogue& catalogue)
{
    catalogue.addFamilyComponents();
    catalogue.addApplication(QStringLiteral("Win"), QLatin1String(applicationVersionText));
    catalogue.publish();
}

// A device whose versions are all older than the catalogue's; rebootMs is longer than a few polls of
// the monitor, so that the drop is seen by the monitor too, and the panel says the device restarts,
// however slowly a loaded machine runs the window.
SimulatedDeviceSettings oldDevice(int model)
{
    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.path = model == Base ? QStringLiteral("sim/pelk-base") : QStringLiteral("sim/pelk-plus");
    settings.mcuWord = 0x0312;
    settings.dspWord = 0x0310;
    settings.stylesVersion = 0x0100;
    settings.ensembleVersion = 0x00010000;
    settings.rebootMs = DeviceProtocol::scaled(4000);
    return settings;
}

// The same device with everything but the given components up to date.
SimulatedDeviceSettings deviceNeeding(int model, const QStringList& old)
{
    SimulatedDeviceSettings settings = oldDevice(model);
    if (!old.contains(QLatin1String("MP")))
        settings.mcuWord = 0x0327;
    if (!old.contains(QLatin1String("DSP")))
        settings.dspWord = 0x0312;
    if (!old.contains(QLatin1String("Styles")))
        settings.stylesVersion = 0x1A2B;
    if (!old.contains(QLatin1String("Ensemble")))
        settings.ensembleVersion = 0x00020014;
    return settings;
}

} // namespace

class tst_UpdateWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }

    void fullUpdateOfPelkPlus();
    void pelkBaseHasNoStyles();
    void oldMcuCannotBeUpdated();
    void downloadFailureReplans();
    void unplugDuringTransfer();
    void stoppedUpdateToldOnConnect();
    void powerCycleRequest();
    void rebootFailure();
    void manifestFetchFailure();
    void hangingCheckCancelled();
    void progressTexts_data();
    void progressTexts();
    void unsendableTypeFailsTheInstall();
};

void tst_UpdateWorkflow::fullUpdateOfPelkPlus()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    session.addDevice(oldDevice(Plus));
    session.openWindow();
    QVERIFY(waitForSelection(session));
    QVERIFY(session.deviceText().startsWith(QStringLiteral("Pelk+ Connected")));
    // A device that becomes ready is not checked by itself.
    QVERIFY(session.planItems().isEmpty());

    QVERIFY(session.click("checkUpdatesButton"));
    const QStringList plan = { "MCU Firmware: Version Production 2.7, Size 6 KB",
        "DSP Firmware: Version Production 1.2, Size 8 KB", "Styles: Version 0x1A2B, Size 20 KB",
        "Ensemble Audio: Version 0x20014, Size 30 KB" };
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems(), plan, 10000);
    QVERIFY(session.box("updatesHeading")
                ->text()
                .startsWith(QStringLiteral("The following components can be updated (last checked on ")));

    QVERIFY(session.click("startUpdateButton"));
    QTRY_COMPARE(session.pages()->currentIndex(), 2);
    QTRY_VERIFY(session.sleep->preventing);

    // Every component in turn, each followed by its own reboot, without anyone touching anything.
    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")
                                 ->text()
                                 .startsWith(QStringLiteral("No updates available (last checked on ")),
        90000);
    QCOMPARE(session.pages()->currentIndex(), 1);
    QVERIFY(session.planItems().isEmpty());
    QVERIFY(!session.button("startUpdateButton")->isEnabled());
    QVERIFY2(session.messages().isEmpty(), qPrintable(session.messageTitles().join(QLatin1Char(','))));
    // The list says how the update ended, above the heading that nothing is left.
    const auto* result = session.window->findChild<MessageBox*>(QStringLiteral("resultBox"));
    QVERIFY(result);
    QCOMPARE(result->text(), QStringLiteral("Update complete: 4 components installed and verified."));
    QCOMPARE(result->currentMode(), int(MessageMode::Information));
    QVERIFY(result->isVisible());

    QCOMPARE(session.timeline.texts(QStringLiteral("component")),
        QStringList({ "Updating MCU Firmware (Component 1/4)", "Updating DSP Firmware (Component 2/4)",
            "Updating Styles (Component 3/4)", "Updating Ensemble Audio (Component 4/4)" }));
    const QStringList statuses = session.timeline.texts(QStringLiteral("status"));
    QCOMPARE(statuses.count(rebootText), 4);
    QVERIFY(!statuses.contains(powerCycleText));
    // While the device restarts the panel says so, not that there is no device.
    QCOMPARE(
        session.timeline.texts(QStringLiteral("device")).count(QStringLiteral("The device is restarting...")),
        4);
    // The last component's bars and labels stay as they ended.
    QCOMPARE(session.label("downloadLabel")->text(), QStringLiteral("Downloading (30 KB)"));
    QCOMPARE(session.label("installLabel")->text(), QStringLiteral("Installing (30 KB)"));
    QCOMPARE(session.bar("downloadProgress")->value(), 100);
    QCOMPARE(session.bar("installProgress")->value(), 100);

    // What was sent, downloaded and logged is the engine's (tst_WorkflowExecution); the panel shows the new
    // versions.
    QVERIFY(session.deviceText().contains(QStringLiteral("MCU:   Production 2.7")));
    QVERIFY(session.deviceText().contains(QStringLiteral("Styles:   0x1A2B")));
}

void tst_UpdateWorkflow::pelkBaseHasNoStyles()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    // Up to date by the Base product, but with Styles older than the Plus product's.
    SimulatedDeviceSettings settings = deviceNeeding(Base, {});
    settings.stylesVersion = 0x0100;
    session.addDevice(settings);
    session.openWindow();
    QVERIFY(waitForSelection(session));

    const QString description = session.deviceText();
    QVERIFY2(description.startsWith(QStringLiteral("Pelk Connected")), qPrintable(description));
    QVERIFY2(!description.contains(QStringLiteral("Styles")), qPrintable(description));
    QVERIFY(description.contains(QStringLiteral("Ensemble:   0x20014")));
    QVERIFY(session.label("baseLogo")->isVisible());
    QVERIFY(!session.label("plusLogo")->isVisible());

    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")
                                 ->text()
                                 .startsWith(QStringLiteral("No updates available (last checked on ")),
        10000);
    QVERIFY(session.planItems().isEmpty());
    QVERIFY(!session.button("startUpdateButton")->isEnabled());
    QVERIFY(session.messages().isEmpty());
}

void tst_UpdateWorkflow::oldMcuCannotBeUpdated()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    SimulatedDeviceSettings settings = deviceNeeding(Plus, { "DSP" });
    settings.mcuWord = 0x0063; // Alpha 6.3, older than the first firmware with USB updates
    session.addDevice(settings);
    session.openWindow();
    QVERIFY(waitForSelection(session));

    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_COMPARE_WITH_TIMEOUT(
        session.planItems(), QStringList({ "DSP Firmware: Version Production 1.2, Size 8 KB" }), 10000);
    MessageBox* warnings = session.box("warningsBox");
    QCOMPARE(warnings->currentMode(), int(MessageMode::Warning));
    QCOMPARE(warnings->text(), QStringLiteral("WARNING:\n") + mcuWarning);
    QVERIFY(session.button("startUpdateButton")->isEnabled());
}

void tst_UpdateWorkflow::downloadFailureReplans()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    // The size is announced, the file itself is gone.
    const UpdateCatalogue::Entry* mcu = session.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
    HttpTestServer::Reply gone;
    gone.status = 404;
    gone.body = "not here";
    session.server.setReply(mcu->path, gone, "GET");
    session.addDevice(deviceNeeding(Plus, { "MP", "DSP" }));
    session.openWindow();
    QVERIFY(waitForSelection(session));

    QVERIFY(session.click("checkUpdatesButton"));
    const QStringList plan = { "MCU Firmware: Version Production 2.7, Size 6 KB",
        "DSP Firmware: Version Production 1.2, Size 8 KB" };
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems(), plan, 10000);
    QVERIFY(session.click("startUpdateButton"));

    QTRY_VERIFY_WITH_TIMEOUT(!session.messages().isEmpty(), 10000);
    QCOMPARE(session.messages().size(), 1);
    const WorkflowSession::Shown shown = session.messages().first();
    QCOMPARE(shown.title, QStringLiteral("Download Failure"));
    // The fixed text, why (the file's 404), that the device was left alone, and what to try.
    QCOMPARE(shown.text,
        QStringLiteral(
            "Failed to download updates.\n\nThe server answered with an error.\n\nNothing was sent "
            "to the device. Check that this computer is online and has room for the files, then start the "
            "update again."));
    QCOMPARE(shown.icon, QMessageBox::Critical);

    // Planned again from the manifest already held, behind the message.
    QTRY_COMPARE(session.pages()->currentIndex(), 1);
    QTRY_COMPARE(session.planItems(), plan);
    QVERIFY(session.button("startUpdateButton")->isEnabled());
}

// A journal left by an earlier run for the device that is plugged in.
void tst_UpdateWorkflow::stoppedUpdateToldOnConnect()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    const SimulatedDeviceSettings settings = deviceNeeding(Plus, { "Styles" });
    UpdateJournal journal;
    journal.model = Plus;
    journal.serial = settings.serialNumber;
    journal.components = { { ComponentType::Styles, QStringLiteral("0x1A2B"), QStringLiteral("Styles"),
        QByteArray(32, '\x01') } };
    journal.step = UpdateJournal::Step::Sending;
    journal.time = QDateTime::currentDateTimeUtc();
    QVERIFY(journal.write(UpdateJournal::defaultPath()));
    session.addDevice(settings);
    session.openWindow();
    QVERIFY(waitForSelection(session));
    const auto* result = session.window->findChild<MessageBox*>(QStringLiteral("resultBox"));
    QTRY_COMPARE(result->text(), journal.stoppedText());
    QCOMPARE(result->currentMode(), int(MessageMode::Warning));
    UpdateJournal::remove();
}

void tst_UpdateWorkflow::unplugDuringTransfer()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    SimulatedDeviceSettings settings = deviceNeeding(Plus, { "MP" });
    settings.unplugAfterPacket = 60; // well inside the firmware stream
    session.addDevice(settings);
    session.openWindow();
    QVERIFY(waitForSelection(session));
    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems().size(), 1, 10000);
    session.sleep->refuse = true;
    QVERIFY(session.click("startUpdateButton"));
    // Nothing keeps the computer awake: said on the page while the update runs, and gone with it.
    const auto* sleepWarning = session.window->findChild<MessageBox*>(QStringLiteral("sleepWarning"));
    QTRY_COMPARE(sleepWarning->currentMode(), int(MessageMode::Warning));
    QCOMPARE(sleepWarning->text(), WorkflowNotifier::sleepWarningText());

    QTRY_COMPARE_WITH_TIMEOUT(session.pages()->currentIndex(), 0, 15000);
    QCOMPARE(sleepWarning->currentMode(), int(MessageMode::Hidden));
    // The component is half-written: the prompt says what was not installed, why and what to do,
    // before it asks for the device.
    const QString interrupted = QStringLiteral(
        "Not installed: MCU Firmware. The device was disconnected before the update was finished. Connect it "
        "again: what was not installed is planned again once it is back.");
    QTRY_COMPARE(session.promptText(), interrupted + QStringLiteral("\n\nPlease connect a PELK device."));
    QVERIFY(!session.log.linesStartingWith(QStringLiteral("Sending file type 0")).isEmpty());
    // The write to the vanished device fails at once, well before the monitor's next look at the
    // bus: the failed transfer is reported as such, and the loss of the device then only brings
    // back the prompt, with no message of its own (no reboot or connection failure).
    QCOMPARE(session.messageTitles(), QStringList({ "Update Failure" }));
    QVERIFY(session.messages().first().text.endsWith(interrupted.section(QStringLiteral(". "), 1)));
    session.closeMessages();

    // Plugged in again, it is planned again by itself from the last check: what was not installed
    // is on the list, ready to start, with the note above it until the update is run again.
    session.bus->run([](DeviceBus& bus) { bus.plug(0); });
    QVERIFY(waitForSelection(session));
    QVERIFY(session.deviceText().contains(QStringLiteral("MCU:   Production 1.2")));
    QTRY_COMPARE_WITH_TIMEOUT(
        session.planItems(), QStringList({ "MCU Firmware: Version Production 2.7, Size 6 KB" }), 10000);
    QTRY_VERIFY(session.button("startUpdateButton")->isEnabled());
    const auto* result = session.window->findChild<MessageBox*>(QStringLiteral("resultBox"));
    QVERIFY(result);
    QCOMPARE(result->text(), interrupted.section(QStringLiteral(" Connect it again"), 0, 0));
    QCOMPARE(result->currentMode(), int(MessageMode::Warning));
    QVERIFY(session.click("startUpdateButton"));
    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")
                                 ->text()
                                 .startsWith(QStringLiteral("No updates available (last checked on ")),
        30000);
    QVERIFY(session.messages().isEmpty());
    QVERIFY(session.deviceText().contains(QStringLiteral("MCU:   Production 2.7")));
}

// What the window shows while the device that stayed on the bus is to be power-cycled; when it is
// asked, and how the update goes on, is the engine's (tst_WorkflowExecution).
void tst_UpdateWorkflow::powerCycleRequest()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    SimulatedDeviceSettings settings = deviceNeeding(Plus, { "DSP" });
    settings.dropOffAfterInstall = false;
    session.addDevice(settings);
    session.openWindow();
    QVERIFY(waitForSelection(session));
    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_COMPARE_WITH_TIMEOUT(
        session.planItems(), QStringList({ "DSP Firmware: Version Production 1.2, Size 8 KB" }), 10000);
    QVERIFY(session.click("startUpdateButton"));

    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), powerCycleText, 35000);
    // The wait above may see the text before the timeline's next sample does.
    session.timeline.sample();
    QVERIFY(session.timeline.firstAt(QStringLiteral("status"), confirmationText) >= 0);
    QCOMPARE(session.pages()->currentIndex(), 2);
    QVERIFY(session.messages().isEmpty());

    // The user power-cycles the device; the update goes on as after any reboot.
    session.bus->run([](DeviceBus& bus) { bus.powerCycle(0); });
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), rebootText, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")
                                 ->text()
                                 .startsWith(QStringLiteral("No updates available (last checked on ")),
        20000);
    QVERIFY(session.messages().isEmpty());
    QVERIFY(session.deviceText().contains(QStringLiteral("DSP:   Production 1.2")));
}

void tst_UpdateWorkflow::rebootFailure()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    session.addDevice(deviceNeeding(Plus, { "DSP" }));
    session.openWindow();
    QVERIFY(waitForSelection(session));
    // After its reboot the device answers with a header that no Pelk sends.
    session.bus->run(
        [](DeviceBus& bus) { bus.device(0).settings().header = SimulatedHeaderBehaviour::BadSignature; });

    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems().size(), 1, 10000);
    QVERIFY(session.click("startUpdateButton"));

    QTRY_VERIFY_WITH_TIMEOUT(session.messageTitles().contains(QStringLiteral("Reboot Failure")), 20000);
    QVERIFY(session.timeline.texts(QStringLiteral("status")).contains(rebootText));
    // One box, not a connection failure on top of it, and a page that says what to do.
    QCOMPARE(session.messageTitles(), QStringList { QStringLiteral("Reboot Failure") });
    QCOMPARE(session.messages().first().icon, QMessageBox::Critical);
    QCOMPARE(session.messages().first().text,
        QStringLiteral("The device failed to reboot after update.\n\nPlease unplug the device, wait five "
                       "seconds and plug it in again. What is left of the update is then planned again."));
    QTRY_COMPARE(session.pages()->currentIndex(), 0);
    // Above the instruction, what was not installed and why, until the device is back.
    QTRY_COMPARE(session.promptText(),
        QStringLiteral("Not installed: DSP Firmware. ")
            + QString(session.messages().first().text).replace("\n\n", " ") + QStringLiteral("\n\n")
            + phaseStatusText(WorkflowPhase::NotAnswering));
}

// A server that takes the request and never answers: Cancel ends the check at once, with no box.
void tst_UpdateWorkflow::hangingCheckCancelled()
{
    WorkflowSession session;
    publishFamily(session.catalogue);
    session.addDevice(oldDevice(Plus));
    session.openWindow();
    QVERIFY(waitForSelection(session));
    // The start-up check of the updater's version has ended.
    QTRY_VERIFY(session.workflow()->state(WorkflowStates::appCheckIdleState)->active());
    QVERIFY(session.button("cancelCheckButton")->isHidden());
    HttpTestServer::Reply hanging;
    hanging.silent = true;
    session.server.setReply(UpdateCatalogue::manifestPath(), hanging);
    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_VERIFY(session.button("cancelCheckButton")->isVisible());
    QVERIFY(session.click("cancelCheckButton"));
    QTRY_VERIFY_WITH_TIMEOUT(session.button("checkUpdatesButton")->isEnabled(), 500);
    QVERIFY(session.button("cancelCheckButton")->isHidden());
    QVERIFY(session.messages().isEmpty());
}

void tst_UpdateWorkflow::manifestFetchFailure()
{
    WorkflowSession session;
    session.addDevice(oldDevice(Plus));
    session.openWindow(ComponentType::WindowsApplication);
    QVERIFY(waitForSelection(session));
    // The updater's own check failed at start-up too, without a word.
    QTRY_VERIFY(session.server.requestCount(UpdateCatalogue::manifestPath()) >= 1);
    QVERIFY(session.messages().isEmpty());

    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_VERIFY_WITH_TIMEOUT(!session.messages().isEmpty(), 10000);
    QCOMPARE(session.messages().size(), 1);
    QCOMPARE(session.messages().first().title, QStringLiteral("Update Check Failure"));
    // The fixed text, then the reason.
    QVERIFY2(session.messages().first().text.startsWith(QStringLiteral("Failed to check for updates!\n\n")),
        qPrintable(session.messages().first().text));
    QCOMPARE(session.messages().first().icon, QMessageBox::Critical);
    QCOMPARE(session.pages()->currentIndex(), 1);
    QVERIFY(session.planItems().isEmpty());
    // The server is named, with what to try (it answered: the address is wrong, not the network);
    // the page keeps it once the box is gone.
    const QString told = session.messages().first().text;
    QVERIFY2(told.endsWith(QStringLiteral("\n\n127.0.0.1:%1 answered, but has no update catalogue at that "
                                          "address. Check the catalogue's address (manifest-url in the "
                                          "settings), then check for updates again.")
                               .arg(session.server.port())),
        qPrintable(told));
    QVERIFY(!session.button("startUpdateButton")->isEnabled());
    session.closeMessages();
    QCOMPARE(session.box("updatesHeading")->currentMode(), int(MessageMode::Warning));
    QCOMPARE(session.box("updatesHeading")->text(), told);

    // Once the catalogue is back, the next check succeeds.
    publishFamily(session.catalogue);
    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems().size(), 4, 10000);
    QVERIFY(session.messages().isEmpty());
}

void tst_UpdateWorkflow::progressTexts_data()
{
    QTest::addColumn<QString>("component");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QString>("downloadText");
    QTest::addColumn<float>("fraction");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("installValue");
    QTest::addColumn<QString>("installText");
    const QString mcu = QStringLiteral("MCU Firmware");
    QTest::newRow("empty file refused") << mcu << 0 << "" << 0.0f << 0 << 0 << "";
    QTest::newRow("one byte") << mcu << 1 << "Downloading (1 KB)" << 0.5f << -1 << 50 << "Installing";
    QTest::newRow("two kilobytes") << mcu << 2048 << "Downloading (2 KB)" << 0.999f << 2048 << 99
                                   << "Installing (2 KB)";
    QTest::newRow("one byte more") << mcu << 2049 << "Downloading (3 KB)" << 1.0f << 100000 << 100
                                   << "Installing (98 KB)";
    // Listed as its text file, sent as the bytes the text spells: both sizes are of one file.
    QTest::newRow("dsp text and bytes") << QStringLiteral("DSP Firmware") << 40960 << "Downloading (40 KB)"
                                        << 0.5f << 8192 << 50 << "Installing (8 KB, from the 40 KB file)";
}

// What the progress page says of a component, from the plan that a chosen file makes.
void tst_UpdateWorkflow::progressTexts()
{
    QFETCH(QString, component);
    QFETCH(int, fileSize);
    QFETCH(QString, downloadText);
    QFETCH(float, fraction);
    QFETCH(int, total);
    QFETCH(int, installValue);
    QFETCH(QString, installText);

    QTemporaryDir dir;
    const bool dsp = component == QLatin1String("DSP Firmware");
    QFile file(dir.filePath(dsp ? QStringLiteral("New.ldr") : QStringLiteral("NewUpdate.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(fileSize, 'x')), qint64(fileSize));
    file.close();

    WorkflowSession session;
    session.openWindow();
    session.dialogs->files.enqueue(file.fileName());
    UpdateWorkflow* window = session.workflow();
    // The install actions wait for a device; with none, the choice only makes the plan.
    session.window->findChild<QActionGroup*>()->setEnabled(true);
    session.action(QStringLiteral("Install %1...").arg(component))->trigger();
    if (fileSize == 0) {
        // Nothing a device could take: refused with a message before the plan is touched.
        QCOMPARE(session.dialogs->count(QStringLiteral("critical")), 1);
        QVERIFY(window->plan().isEmpty());
        return;
    }
    QSignalSpy selected(window, &UpdateWorkflow::componentSelected);
    auto* execution = window->findChild<PlanExecution*>();
    QVERIFY(execution);
    execution->begin();
    execution->selectNextComponent();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(session.label("componentLabel")->text(),
        QStringLiteral("Updating %1 (Component 1/1)").arg(component));
    QCOMPARE(session.label("downloadLabel")->text(), downloadText);
    QCOMPARE(session.label("installLabel")->text(), QStringLiteral("Installing"));

    // A chosen file is not downloaded.
    QSignalSpy skipped(window, &UpdateWorkflow::componentDownloadSkipped);
    window->findChild<ComponentDownloads*>()->downloadCurrent();
    QCOMPARE(skipped.size(), 1);
    QCOMPARE(session.bar("downloadProgress")->value(), 100);

    emit window->findChild<DeviceSelection*>()->installProgress(fraction, total);
    QCOMPARE(session.bar("installProgress")->value(), installValue);
    QCOMPARE(session.label("installLabel")->text(), installText);

    // After the only component the update is over and the plan is gone.
    QSignalSpy finished(window, &UpdateWorkflow::updateFinished);
    execution->selectNextComponent();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(selected.size(), 1);
}

// A plan entry of a type the device cannot take: the device is asked whether it is ready, as for any
// file, and the install then fails without a byte sent.
void tst_UpdateWorkflow::unsendableTypeFailsTheInstall()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("PelkUpdater.exe")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(100, 'x')), qint64(100));
    file.close();

    WorkflowSession session;
    publishFamily(session.catalogue);
    session.addDevice(deviceNeeding(Plus, { "DSP" }));
    session.openWindow();
    QVERIFY(waitForSelection(session));
    QTRY_VERIFY(session.action(QStringLiteral("Install MCU Firmware..."))->isEnabled());

    // No menu offers this type; the slot takes any, and no ending is asked of it.
    session.dialogs->files.enqueue(file.fileName());
    QVERIFY(QMetaObject::invokeMethod(session.workflow(), "installComponentFromFile",
        Q_ARG(ComponentType, ComponentType::WindowsApplication)));

    QTRY_VERIFY_WITH_TIMEOUT(!session.messages().isEmpty(), 10000);
    QCOMPARE(session.messages().size(), 1);
    const WorkflowSession::Shown shown = session.messages().first();
    QCOMPARE(shown.title, QStringLiteral("Update Failure"));
    QCOMPARE(shown.text,
        QStringLiteral("The update could not be completed.\n\nWindows Application is not a component the "
                       "device can take, so nothing was sent to it."));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(session.timeline.texts(QStringLiteral("component")),
        QStringList({ "Updating Windows Application (Component 1/1)" }));

    // Planned again from the manifest held since the start-up check, behind the message; the sizes
    // are asked for again, which a loaded machine under the sanitizers answers in more than 5 s.
    QTRY_COMPARE(session.pages()->currentIndex(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(
        session.planItems(), QStringList({ "DSP Firmware: Version Production 1.2, Size 8 KB" }), 20000);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdateWorkflow, PelkPlus::WindowTest)

#include "tst_UpdateWorkflow.moc"
