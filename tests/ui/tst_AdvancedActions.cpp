// The window's advanced actions end to end: installing from a file, reinstalling everything, the
// manifest URL, the check for a newer updater, About, and closing while an update runs.
#include "app/ApplicationSetup.h"
#include "device/DeviceProtocol.h"
#include "app/ConfigurationManager.h"
#include "app/PelkVersion.h"
#include "device/DeviceInfo.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<PelkPlus::ComponentType>)

namespace PelkPlus {

namespace {

const QString noUpdatesPrefix = QStringLiteral("No updates available (last checked on ");

void publishPlus(UpdateCatalogue& catalogue)
{
    catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    catalogue.addApplication(QStringLiteral("Win"), QLatin1String(applicationVersionText));
    catalogue.publish();
}

// Up to date with publishPlus.
SimulatedDeviceSettings currentPlus()
{
    SimulatedDeviceSettings settings;
    settings.path = QStringLiteral("sim/pelk-plus");
    settings.mcuWord = 0x0327;
    settings.dspWord = 0x0312;
    settings.rebootMs = DeviceProtocol::scaled(1800);
    return settings;
}

// The Pelk+ catalogue published, an up-to-date Pelk+ plugged in, the window open on its selection page.
bool openOnCurrentPlus(WorkflowSession& session)
{
    publishPlus(session.catalogue);
    session.addDevice(currentPlus());
    session.openWindow();
    return waitForSelection(session);
}

// The window open on a Pelk+ whose DSP firmware is planned, checked and listed; the device takes
// long enough in its ready check for the user to try to close the window before the file goes.
bool openWithSlowDspUpdate(WorkflowSession& session)
{
    publishPlus(session.catalogue);
    SimulatedDeviceSettings settings = currentPlus();
    settings.dspWord = 0x0310;
    settings.ready = SimulatedReadyBehaviour::AfterQueries;
    settings.readyAfterQueries = 4;
    session.addDevice(settings);
    session.openWindow();
    return waitForSelection(session) && session.click("checkUpdatesButton")
        && QTest::qWaitFor([&session] { return session.planItems().size() == 1; }, 10000);
}

} // namespace

class tst_AdvancedActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }

    void refusedFileEndings_data();
    void refusedFileEndings();
    void installFromLocalFile_data();
    void installFromLocalFile();
    void listAllComponentsReinstalls();
    void manifestUrlDialog_data();
    void manifestUrlDialog();
    void updaterCheck_data();
    void updaterCheck();
    void updaterOfferAnswered_data();
    void updaterOfferAnswered();
    void about();
    void closeDuringUpdateAsksFirst();
    void closeConfirmedDuringUpdate();
    void quitQuestion_data();
    void quitQuestion();

private:
    QTemporaryDir files;
};

void tst_AdvancedActions::refusedFileEndings_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<QString>("filter");
    // The ending is compared with its case: update.bin is not an MCU firmware file.
    QTest::newRow("mcu, lower case") << "Install MCU Firmware..."
                                     << "update.bin"
                                     << "MCU Firmware"
                                     << "MCU Firmware (*Update.bin)";
    QTest::newRow("dsp, hex file") << "Install DSP Firmware..."
                                   << "dsp-3.1.2.hex"
                                   << "DSP Firmware"
                                   << "DSP Firmware (*.ldr)";
    QTest::newRow("styles, other data") << "Install Styles..."
                                        << "StyleData.bin.old"
                                        << "Styles"
                                        << "Styles (*StyleData.bin)";
    QTest::newRow("ensemble, wave") << "Install Ensemble Audio..."
                                    << "piano.wav"
                                    << "Ensemble Audio"
                                    << "Ensemble Audio (*.flac)";
}

void tst_AdvancedActions::refusedFileEndings()
{
    QFETCH(QString, action);
    QFETCH(QString, fileName);
    QFETCH(QString, typeName);
    QFETCH(QString, filter);

    WorkflowSession session;
    QVERIFY(openOnCurrentPlus(session));
    QTRY_VERIFY(session.action(action)->isEnabled());

    session.dialogs->files.enqueue(writeFile(files, fileName, "data"));
    QSignalSpy forced(session.workflow(), &UpdateWorkflow::forceInstallComponentRequest);
    session.action(action)->trigger();

    QCOMPARE(session.dialogs->calls.size(), 2);
    const ScriptedDialogs::Call asked = session.dialogs->calls.at(0);
    QCOMPARE(asked.kind, QStringLiteral("file"));
    QCOMPARE(asked.title, QStringLiteral("Select ") + typeName);
    QCOMPARE(asked.text, filter);
    QCOMPARE(asked.extra, QDir::homePath());
    const ScriptedDialogs::Call refused = session.dialogs->calls.at(1);
    QCOMPARE(refused.kind, QStringLiteral("critical"));
    QCOMPARE(refused.title, QStringLiteral("Invalid File"));
    QCOMPARE(refused.text, QStringLiteral("This file does not seem to be a valid ") + typeName);

    QTest::qWait(100);
    QCOMPARE(forced.size(), 0);
    QCOMPARE(session.pages()->currentIndex(), 1);
    QCOMPARE(session.sleep->switchedOn, 0);

    // Cancelling the file dialog does nothing at all.
    session.action(action)->trigger();
    QCOMPARE(session.dialogs->calls.size(), 3);
    QCOMPARE(forced.size(), 0);
}

void tst_AdvancedActions::installFromLocalFile_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("component");
    QTest::addColumn<QString>("componentText");
    QTest::addColumn<QString>("versionLine");
    QTest::newRow("mcu firmware") << "Install MCU Firmware..."
                                  << "NewUpdate.bin" << 0 << "Updating MCU Firmware (Component 1/1)"
                                  << "MCU:   Production 3.0";
    QTest::newRow("dsp firmware") << "Install DSP Firmware..."
                                  << "dsp-3.2.1.ldr" << 1 << "Updating DSP Firmware (Component 1/1)"
                                  << "DSP:   Production 2.1";
}

void tst_AdvancedActions::installFromLocalFile()
{
    QFETCH(QString, action);
    QFETCH(QString, fileName);
    QFETCH(int, component);
    QFETCH(QString, componentText);
    QFETCH(QString, versionLine);

    WorkflowSession session;
    QVERIFY(openOnCurrentPlus(session));
    QTRY_VERIFY(session.action(action)->isEnabled());
    // The start-up check asks the size of the updater's own package too, and that answer may come
    // after the menu is enabled: counted only once it is in.
    const QString ownPackage
        = session.catalogue.find(QStringLiteral("Pelk Updater"), QStringLiteral("Win"))->path;
    QTRY_COMPARE(session.server.requestCount(ownPackage), 1);
    const int requestsBefore = session.server.totalRequests();

    // A version that the catalogue does not even list: the file is installed as it is.
    const QString version = component == 0 ? QStringLiteral("3.3.0") : QStringLiteral("3.2.1");
    const QByteArray image = UpdateCatalogue::image(2100, version, 5);
    const QByteArray contents = component == 1 ? UpdateCatalogue::dspText(image) : image;
    session.dialogs->files.enqueue(writeFile(files, fileName, contents));
    session.action(action)->trigger();

    QTRY_COMPARE(session.pages()->currentIndex(), 2);
    QCOMPARE(session.label("componentLabel")->text(), componentText);
    QCOMPARE(session.label("downloadLabel")->text(),
        QStringLiteral("Downloading (%1 KB)").arg((contents.size() + 1023) / 1024));
    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")->text().startsWith(noUpdatesPrefix), 30000);

    QVERIFY(session.messages().isEmpty());
    QVERIFY(session.timeline.texts(QStringLiteral("status"))
                .contains(QStringLiteral("Waiting for the device to reboot...")));
    // Nothing was downloaded; the re-plan at the end used the manifest already held.
    QCOMPARE(session.server.totalRequests(), requestsBefore);
    const SimulatedDevice device = session.device();
    QCOMPARE(device.installCount(), 1);
    QVERIFY(device.holdsImage(component, image));
    QVERIFY2(session.deviceText().contains(versionLine), qPrintable(session.deviceText()));
    QCOMPARE(session.sleep->switchedOff, 1);
    QVERIFY(!session.sleep->preventing);
}

void tst_AdvancedActions::listAllComponentsReinstalls()
{
    WorkflowSession session;
    QVERIFY(openOnCurrentPlus(session));

    // Nothing is newer...
    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")->text().startsWith(noUpdatesPrefix), 10000);
    QVERIFY(session.planItems().isEmpty());
    const int manifestsFetched = session.server.requestCount(UpdateCatalogue::manifestPath(), "GET");

    // ...but everything can be listed and installed again, from a catalogue fetched anew.
    QTRY_VERIFY(session.action(QStringLiteral("List All Components"))->isEnabled());
    session.action(QStringLiteral("List All Components"))->trigger();
    const QStringList plan = { "MCU Firmware: Version Production 2.7, Size 6 KB",
        "DSP Firmware: Version Production 1.2, Size 8 KB" };
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems(), plan, 10000);
    QCOMPARE(session.server.requestCount(UpdateCatalogue::manifestPath(), "GET"), manifestsFetched + 1);
    QVERIFY(session.click("startUpdateButton"));

    QTRY_VERIFY_WITH_TIMEOUT(session.timeline.texts(QStringLiteral("component")).size() == 2
            && session.box("updatesHeading")->text().startsWith(noUpdatesPrefix),
        40000);
    QVERIFY(session.messages().isEmpty());
    const SimulatedDevice device = session.device();
    QCOMPARE(device.installCount(), 2);
    QVERIFY(
        device.holdsImage(0, session.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->image));
    QVERIFY(
        device.holdsImage(1, session.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("DSP"))->image));
}

void tst_AdvancedActions::manifestUrlDialog_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("errors");

    const QString cancel; // a null text cancels the dialog
    const QString start = QStringLiteral("http://127.0.0.1:9/start.xml");
    QTest::newRow("cancelled") << start << QStringList({ cancel }) << start << 0;
    QTest::newRow("full url") << start << QStringList({ "https://updates.example.org/pelk.xml" })
                              << "https://updates.example.org/pelk.xml" << 0;
    QTest::newRow("without scheme, a web address") << start << QStringList({ "updates.example.org/pelk.xml" })
                                                   << "http://updates.example.org/pelk.xml" << 0;
    QTest::newRow("empty, back to the default")
        << start << QStringList({ "" }) << ConfigurationManager::defaultManifestUrl().toString() << 0;
    QTest::newRow("spaces, asked again, then valid")
        << start << QStringList({ "   ", "http://127.0.0.1:8080/m.xml" }) << "http://127.0.0.1:8080/m.xml"
        << 1;
    QTest::newRow("invalid twice, then cancelled")
        << start << QStringList({ "ht tp://x", "[", cancel }) << start << 2;
}

void tst_AdvancedActions::manifestUrlDialog()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, inputs);
    QFETCH(QString, expected);
    QFETCH(int, errors);

    WorkflowSession session;
    session.openWindow();
    ConfigurationManager::instance()->setManifestUrl(QUrl(stored));
    for (const QString& input : inputs)
        session.dialogs->inputs.enqueue(input);

    QAction* action = session.action(QStringLiteral("Set Manifest URL..."));
    QVERIFY(action->isEnabled());
    action->trigger();

    QCOMPARE(ConfigurationManager::instance()->manifestUrl().toString(), expected);
    const QList<ScriptedDialogs::Call>& calls = session.dialogs->calls;
    QCOMPARE(calls.size(), inputs.size() + errors);
    QString prefill = stored;
    int shownErrors = 0;
    for (int i = 0, input = 0; i < calls.size(); ++i) {
        const ScriptedDialogs::Call& call = calls.at(i);
        if (call.kind == QLatin1String("input")) {
            QCOMPARE(call.title, QStringLiteral("Set Manifest URL"));
            QCOMPARE(call.text, QStringLiteral("Please enter the URL of the update manifest file."));
            // Asked again with what was entered the last time.
            QCOMPARE(call.extra, prefill);
            prefill = inputs.at(input++);
        } else {
            QCOMPARE(call.kind, QStringLiteral("critical"));
            QCOMPARE(call.title, QStringLiteral("Invalid Manifest URL"));
            QCOMPARE(
                call.text, QStringLiteral("The entered text is not a valid URL. Please enter a valid URL."));
            ++shownErrors;
        }
    }
    QCOMPARE(shownErrors, errors);
    // Nothing is fetched from the new address until the next check.
    QVERIFY(session.messages().isEmpty());
}

void tst_AdvancedActions::updaterCheck_data()
{
    QTest::addColumn<std::optional<ComponentType>>("platform");
    QTest::addColumn<QStringList>("packages");
    QTest::addColumn<bool>("published");
    QTest::addColumn<QString>("atStart");
    QTest::addColumn<QString>("fromMenu");

    const std::optional<ComponentType> windows = ComponentType::WindowsApplication;
    const std::optional<ComponentType> mac = ComponentType::MacApplication;
    const std::optional<ComponentType> unknown;
    const QString offer = QStringLiteral("New Pelk Updater version %1 is available.\n\nWould you like to "
                                         "quit this application and install the new "
                                         "version?\n\n");
    const QString none = QStringLiteral("No updates available for Pelk Updater.");

    // Only the first newer package is offered; an offer is made at start-up too.
    QTest::newRow("windows, 2.0.1 then 2.1.0")
        << windows << QStringList({ "Win 2.0.1", "Win 2.1.0", "Win 2.2.0" }) << true << offer.arg("2.1.0")
        << offer.arg("2.1.0");
    QTest::newRow("windows, the same version")
        << windows << QStringList({ "Win " + QLatin1String(applicationVersionText), "Mac 3.0.0" }) << true
        << "" << none;
    QTest::newRow("windows, unreadable version skipped")
        << windows << QStringList({ "Win 2.1", "Win 2.0.3-rc.1" }) << true << offer.arg("2.0.3-rc.1")
        << offer.arg("2.0.3-rc.1");
    QTest::newRow("mac, only the mac package")
        << mac
        << QStringList(
               { "Win 2.1.0", "Mac " + QLatin1String(applicationVersionText) + "-beta.1", "Mac 2.0.5" })
        << true << offer.arg("2.0.5") << offer.arg("2.0.5");
    // A platform the manifest has no package for is never offered another platform's installer.
    QTest::newRow("linux, nothing to install")
        << unknown << QStringList({ "Win 2.1.0", "Mac 2.1.0" }) << true << "" << none;
    QTest::newRow("manifest unavailable") << windows << QStringList() << false << ""
                                          << "Failed to check for new version of Pelk Updater.";
}

void tst_AdvancedActions::updaterCheck()
{
    QFETCH(std::optional<ComponentType>, platform);
    QFETCH(QStringList, packages);
    QFETCH(bool, published);
    QFETCH(QString, atStart);
    QFETCH(QString, fromMenu);

    WorkflowSession session;
    for (const QString& package : packages)
        session.catalogue.addApplication(
            package.section(QLatin1Char(' '), 0, 0), package.section(QLatin1Char(' '), 1));
    if (published)
        session.catalogue.publish();
    session.openWindow(platform);

    // The start-up check speaks only of an offer.
    QTRY_VERIFY(session.server.requestCount(UpdateCatalogue::manifestPath()) == 1);
    QTRY_VERIFY(session.button("checkUpdatesButton")->isEnabled() || !session.messages().isEmpty());
    if (!atStart.isEmpty())
        QTRY_COMPARE(session.messages().size(), 1);
    QTest::qWait(200);
    QCOMPARE(session.messages().size(), atStart.isEmpty() ? 0 : 1);
    if (!atStart.isEmpty()) {
        QCOMPARE(session.messages().first().text, atStart);
        session.closeMessages();
    }

    QAction* check = session.action(QStringLiteral("Check for New Version of Pelk Updater"));
    QTRY_VERIFY(check->isEnabled());
    check->trigger();
    QTRY_COMPARE(session.messages().size(), 1);
    const WorkflowSession::Shown shown = session.messages().first();
    QCOMPARE(shown.text, fromMenu);
    QCOMPARE(shown.title, QString());
    QCOMPARE(shown.icon,
        fromMenu.startsWith(QLatin1String("Failed")) ? QMessageBox::Critical : QMessageBox::Information);
    QCOMPARE(session.server.requestCount(UpdateCatalogue::manifestPath()), 2);
    session.closeMessages();
    QVERIFY(session.dialogs->openedUrls.isEmpty());
}

void tst_AdvancedActions::updaterOfferAnswered_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("openSucceeds");
    QTest::addColumn<bool>("quits");
    QTest::newRow("yes") << int(QMessageBox::Yes) << true << true << true;
    QTest::newRow("yes, but the desktop cannot open it") << int(QMessageBox::Yes) << true << false << false;
    QTest::newRow("no") << int(QMessageBox::No) << false << true << false;
    QTest::newRow("box closed") << int(QMessageBox::NoButton) << false << true << false;
}

void tst_AdvancedActions::updaterOfferAnswered()
{
    QFETCH(int, answer);
    QFETCH(bool, opens);
    QFETCH(bool, openSucceeds);
    QFETCH(bool, quits);

    WorkflowSession session;
    session.catalogue.addApplication(QStringLiteral("Win"), QStringLiteral("2.1.0"));
    session.catalogue.publish();
    session.openWindow(ComponentType::WindowsApplication);
    session.dialogs->openUrlSucceeds = openSucceeds;
    QSignalSpy confirmed(session.workflow(), &UpdateWorkflow::appUpdatesConfirmed);
    QSignalSpy rejected(session.workflow(), &UpdateWorkflow::appUpdatesRejected);

    QTRY_VERIFY_WITH_TIMEOUT(!session.messages().isEmpty(), 10000);
    auto* box = session.window->findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY(box->isModal());
    QCOMPARE(box->icon(), QMessageBox::Information);
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QVERIFY(box->testAttribute(Qt::WA_DeleteOnClose));
    if (answer == QMessageBox::NoButton)
        box->close();
    else
        box->button(QMessageBox::StandardButton(answer))->click();

    QTRY_COMPARE(confirmed.size() + rejected.size(), 1);
    QCOMPARE(confirmed.size(), opens ? 1 : 0);
    QTRY_COMPARE(session.dialogs->openedUrls.size(), opens ? 1 : 0);
    if (opens) {
        QCOMPARE(session.dialogs->openedUrls.first(),
            session.server.url(
                session.catalogue.find(QStringLiteral("Pelk Updater"), QStringLiteral("Win"))->path));
    }
    QCOMPARE(session.dialogs->quitRequests, quits ? 1 : 0);

    // Whatever the answer, a later check from the menu runs and speaks.
    QAction* check = session.action(QStringLiteral("Check for New Version of Pelk Updater"));
    QTRY_VERIFY(check->isEnabled());
    check->trigger();
    QTRY_COMPARE(session.messages().size(), 1);
}

void tst_AdvancedActions::about()
{
    WorkflowSession session;
    session.openWindow();
    QAction* action = session.action(QStringLiteral("About Pelk Updater..."));
    action->trigger();
    QCOMPARE(session.dialogs->calls.size(), 1);
    QCOMPARE(session.dialogs->calls.first().kind, QStringLiteral("about"));
    QCOMPARE(session.dialogs->calls.first().title, QStringLiteral("About Pelk Updater"));
    QCOMPARE(session.dialogs->calls.first().text,
        QStringLiteral("<b>Pelk Updater version %1</b>").arg(QLatin1String(applicationVersionText)));
}

void tst_AdvancedActions::closeDuringUpdateAsksFirst()
{
    WorkflowSession session;
    QVERIFY(openWithSlowDspUpdate(session));

    // With the update list shown, closing is not questioned.
    QCloseEvent idle;
    QCoreApplication::sendEvent(session.window.get(), &idle);
    QVERIFY(idle.isAccepted());
    QCOMPARE(session.dialogs->count(QStringLiteral("warning")), 0);

    QVERIFY(session.click("startUpdateButton"));
    QTRY_COMPARE(session.statusText(),
        QStringLiteral("Waiting for the device to enter update mode...\n\nPlease DO NOT disconnect or power "
                       "down the device!"));
    session.dialogs->warningAnswers.enqueue(QMessageBox::No);
    QVERIFY(!session.window->close());
    QVERIFY(session.window->isVisible());
    QCOMPARE(session.dialogs->count(QStringLiteral("warning")), 1);
    const ScriptedDialogs::Call asked = session.dialogs->calls.last();
    QCOMPARE(asked.title, QStringLiteral("Update in Progress"));
    QCOMPARE(asked.text,
        QStringLiteral("An update is in progress. Quitting now will abort the update.\n\nStopping now may "
                       "leave the device unusable until it is updated again.\n\nAre you sure you want to "
                       "quit?\n"));

    // Still asked while the device reboots; the update goes on after No.
    QTRY_COMPARE_WITH_TIMEOUT(
        session.statusText(), QStringLiteral("Waiting for the device to reboot..."), 15000);
    session.dialogs->warningAnswers.enqueue(QMessageBox::No);
    QVERIFY(!session.window->close());
    QCOMPARE(session.dialogs->count(QStringLiteral("warning")), 2);
    // The quit keys ask the same.
    session.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(session.window.get()));
    QTest::keyClick(session.window.get(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(session.dialogs->count(QStringLiteral("warning")), 3);

    QTRY_VERIFY_WITH_TIMEOUT(session.box("updatesHeading")->text().startsWith(noUpdatesPrefix), 20000);
    QCOMPARE(session.device().installCount(), 1);
    QVERIFY(session.window->close());
    QVERIFY(!session.window->isVisible());
    QCOMPARE(session.dialogs->count(QStringLiteral("warning")), 3);
}

void tst_AdvancedActions::closeConfirmedDuringUpdate()
{
    WorkflowSession session;
    publishPlus(session.catalogue);
    SimulatedDeviceSettings settings = currentPlus();
    settings.mcuWord = 0x0312;
    settings.dropOffAfterInstall = false;
    session.addDevice(settings);
    session.openWindow();
    QVERIFY(waitForSelection(session));
    QVERIFY(session.click("checkUpdatesButton"));
    QTRY_COMPARE_WITH_TIMEOUT(session.planItems().size(), 1, 10000);
    QVERIFY(session.click("startUpdateButton"));
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(),
        QStringLiteral(
            "Waiting for confirmation that the update is finished...\n\nPlease DO NOT disconnect or power "
            "down the device!"),
        15000);
    // The request to power-cycle the device brings the window to the front.
    QTRY_COMPARE_WITH_TIMEOUT(
        session.statusText(), phaseStatusText(WorkflowPhase::AwaitingPowerCycle), 15000);
    QTRY_VERIFY(session.window->isActiveWindow());

    session.dialogs->warningAnswers.enqueue(QMessageBox::Yes);
    QVERIFY(session.window->close());
    QVERIFY(!session.window->isVisible());
    QCOMPARE(session.dialogs->count(QStringLiteral("warning")), 1);
}

// The quit question during an update: neither key stops it, and a box
// left open closes itself when the update ends, and the window with it.
void tst_AdvancedActions::quitQuestion_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("closed");
    QTest::newRow("Enter keeps the update running") << int(Qt::Key_Return) << false;
    QTest::newRow("Escape keeps the update running") << int(Qt::Key_Escape) << false;
    QTest::newRow("the update ends while asked") << 0 << true;
}

void tst_AdvancedActions::quitQuestion()
{
    QFETCH(int, key);
    QFETCH(bool, closed);

    WorkflowSession session;
    QVERIFY(openWithSlowDspUpdate(session));
    QVERIFY(session.click("startUpdateButton"));
    QTRY_COMPARE(session.statusText(), phaseStatusText(WorkflowPhase::AwaitingUpdateMode));

    bool boxClosed = false;
    session.dialogs->whileAsked = [&](QMessageBox* box) {
        if (key)
            QTest::keyClick(box, Qt::Key(key));
        boxClosed = QTest::qWaitFor([box] { return !box->isVisible(); }, 60000);
    };
    QCOMPARE(session.window->close(), closed);
    QVERIFY(boxClosed);
    QCOMPARE(session.window->isVisible(), !closed);
    const ScriptedDialogs::Call asked = session.dialogs->calls.last();
    QCOMPARE(asked.title, QStringLiteral("Update in Progress"));
    QCOMPARE(asked.text,
        QStringLiteral("An update is in progress. Quitting now will abort the update.\n\nStopping now may "
                       "leave the device unusable until it is updated again.\n\nAre you sure you want to "
                       "quit?\n"));
    QCOMPARE(asked.extra,
        QStringLiteral("%1/%2/%3")
            .arg(int(QMessageBox::Yes | QMessageBox::No))
            .arg(int(QMessageBox::No))
            .arg(int(QMessageBox::No)));
    if (!closed) {
        // The update went on to its end.
        QVERIFY(session.workflow()->isUpdating());
        QTRY_VERIFY_WITH_TIMEOUT(!session.workflow()->isUpdating(), 60000);
        QCOMPARE(session.device().installCount(), 1);
    }
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_AdvancedActions, PelkPlus::WindowTest)

#include "tst_AdvancedActions.moc"
