// What the window shows of a disturbed or guarded update: the questions of the power and of the
// catalogue's trust with their buttons, the panel and the prompt through reboots and refused
// access, the other device named, the quit asked during an update, the checking heading, the Help
// menu after an update. What reaches the devices in the engine's own scenarios is told by
// tests/workflow/tst_WorkflowSafety; here too every device must end holding nothing, or exactly the
// images named.
#include "app/LogFile.h"
#include "app/PelkVersion.h"
#include "app/UpdateHistory.h"
#include "support/WindowHarness.h"
#include "workflow/DeviceAccessHint.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace PelkPlus {
// Drives one session and tells whether every step went as it should.
using Scenario = std::function<bool(WorkflowSession&)>;
} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::Scenario)

namespace PelkPlus {

namespace {

const QString plusMcu = QStringLiteral("MCU Firmware: Version Production 2.7, Size 6 KB");
const QString plusDsp = QStringLiteral("DSP Firmware: Version Production 1.2, Size 8 KB");

SimulatedDeviceSettings plus(const QString& serial, const QStringList& old, int model = Plus)
{
    return EngineFixture::olderDevice(old, serial, model);
}

void publish(WorkflowSession& s)
{
    s.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    s.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    s.catalogue.addApplication(QStringLiteral("Win"), QLatin1String(applicationVersionText));
    s.catalogue.publish();
}

void setPlugged(WorkflowSession& session, int device, bool plugged)
{
    session.bus->run([device, plugged](DeviceBus& bus) {
        if (!plugged)
            return bus.unplug(device);
        bus.device(device).restarted();
        bus.plug(device);
    });
}

bool selected(WorkflowSession& s, const QString& model = QStringLiteral("Pelk+"))
{
    return waitUntil([&] {
        return s.selectionPageShown() && s.deviceText().startsWith(model + QLatin1String(" Connected"));
    });
}

// Selected, checked with the plan reading as given, and started.
bool started(WorkflowSession& s, const QStringList& items)
{
    return selected(s) && s.click("checkUpdatesButton") && waitUntil([&] { return s.planItems() == items; })
        && s.click("startUpdateButton");
}

bool nothingLeft(WorkflowSession& s, int timeout = 60000)
{
    return waitUntil(
        [&] {
            return s.selectionPageShown()
                && s.box("updatesHeading")->text().startsWith(QLatin1String("No updates available"));
        },
        timeout);
}

// Triggers a menu action once the workflow enables it.
bool triggered(WorkflowSession& s, const char* text)
{
    QAction* action = s.action(QLatin1String(text));
    return waitUntil([&] { return action->isEnabled(); }) && (action->trigger(), true);
}

// Every text the user was shown: open message boxes and the blocking dialogs.
QString shownTexts(WorkflowSession& session)
{
    QStringList texts;
    for (const WorkflowSession::Shown& shown : session.messages())
        texts.append(shown.title + QLatin1String(": ") + shown.text);
    for (const ScriptedDialogs::Call& call : session.dialogs->calls)
        texts.append(call.title + QLatin1String(": ") + call.text);
    return texts.join(QLatin1Char('\n'));
}

} // namespace

class tst_SafetyWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }
    void scenario_data();
    void scenario();

private:
    QTemporaryDir files;
};

void tst_SafetyWorkflow::scenario_data()
{
    QTest::addColumn<QList<SimulatedDeviceSettings>>("devices");
    QTest::addColumn<Scenario>("run");
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QString>("shown");

    // On battery at 12 % with nothing charging it: asked before anything is sent, Stop the default.
    const auto lowBattery = [](WorkflowSession& s) { s.engine.power->setBattery(12); };
    const auto askedAboutPower = [](WorkflowSession& s) {
        for (const ScriptedDialogs::Call& call : qAsConst(s.dialogs->calls)) {
            if (call.title == QLatin1String("Low Battery"))
                return call.text.startsWith(QLatin1String("The computer is running on its battery at 12 %"))
                    && call.extra
                    == QStringLiteral("%1/%2/%2")
                           .arg(int(QMessageBox::Ok | QMessageBox::Cancel))
                           .arg(int(QMessageBox::Cancel));
        }
        return false;
    };
    QTest::newRow("on a low battery, stopped at the question")
        << Devices { plus("PKA", { "MP" }) } << Scenario([lowBattery, askedAboutPower](WorkflowSession& s) {
               lowBattery(s);
               return started(s, { plusMcu })
                   && s.label("estimateLabel")->text()
                   == QLatin1String("The update takes a few seconds once the files are downloaded.")
                   && askedAboutPower(s) && !waitUntil([&] { return !s.selectionPageShown(); }, 1000)
                   && s.button("startUpdateButton")->isEnabled() && !s.workflow()->isUpdating();
           })
        << QStringList { "nothing" } << QString();
    // A catalogue no trusted key signed: asked as the update starts, No the default.
    const auto askedAboutSignature = [](WorkflowSession& s) {
        s.workflow()->setUnsignedCatalogueAllowed(false);
        return started(s, { plusMcu }) && waitUntil([&] {
            for (const ScriptedDialogs::Call& call : qAsConst(s.dialogs->calls)) {
                if (call.title == QLatin1String("Unsigned Update Catalogue"))
                    return call.text.contains(QLatin1String("could have been changed on the way"))
                        && call.extra
                        == QStringLiteral("%1/%2/%2")
                               .arg(int(QMessageBox::Yes | QMessageBox::No))
                               .arg(int(QMessageBox::No));
            }
            return false;
        });
    };
    QTest::newRow("unsigned catalogue, declined at the question")
        << Devices { plus("PKA", { "MP" }) } << Scenario([askedAboutSignature](WorkflowSession& s) {
               return askedAboutSignature(s) && !waitUntil([&] { return !s.selectionPageShown(); }, 1000)
                   && s.button("startUpdateButton")->isEnabled() && !s.workflow()->isUpdating();
           })
        << QStringList { "nothing" } << QString();
    // The panel keeps its width through the reboots, so the page beside it does not shift.
    QTest::newRow("panel width through the reboots")
        << Devices { plus("PKA", { "MP", "DSP" }) } << Scenario([](WorkflowSession& s) {
               const QWidget* panel = s.child<QWidget>("statusWidget");
               s.timeline.watch(QStringLiteral("width"), [panel] { return QString::number(panel->width()); });
               return started(s, { plusMcu, plusDsp }) && nothingLeft(s)
                   && s.timeline.texts(QStringLiteral("device"))
                          .contains(QStringLiteral("The device is restarting..."))
                   && s.timeline.texts(QStringLiteral("width")).size() == 1;
           })
        << QStringList { "MP 3.2.7, DSP 3.1.2" } << QString();
    // Refused past two quiet retries: after the one box, page and panel do not change at a retry,
    // until access comes and the window goes on by itself.
    SimulatedDeviceSettings refusedAWhile = plus(QStringLiteral("PKA"), {});
    refusedAWhile.refuseOpenMs = 2 * UpdateWorkflow::reconnectDelayMs + 1500;
    QTest::newRow("access refused past two retries")
        << Devices { refusedAWhile } << Scenario([](WorkflowSession& s) {
               s.timeline.watch(QStringLiteral("prompt"), [&s] { return s.promptText(); });
               const QString lasting = DeviceAccessHint::waitingText(QStringLiteral("sim/PKA"));
               // Open on the third retry at the latest (15 s and the start), planned a little later:
               // a bound with room for a loaded machine. The timeline may record the panel's
               // connected text a moment after the page is shown.
               const auto connected = [&s] {
                   const QStringList panel = s.timeline.texts(QStringLiteral("device"));
                   return !panel.isEmpty() && panel.constLast().startsWith(QLatin1String("Pelk+ Connected"));
               };
               if (!waitUntil([&] { return s.selectionPageShown() && connected(); },
                       8 * UpdateWorkflow::reconnectDelayMs))
                   return false;
               // From the refusal on, the one lasting page until the device opens, then at most the
               // wait for its answer (a loaded machine lets that be seen): never "does not answer"
               // or "connect" in between.
               const auto from = [](const QStringList& texts, const QString& first) {
                   const int at = texts.indexOf(first);
                   return at < 0 ? QStringList() : texts.mid(at);
               };
               const QStringList prompts = from(s.timeline.texts(QStringLiteral("prompt")), lasting);
               const QStringList panel = from(
                   s.timeline.texts(QStringLiteral("device")), QStringLiteral("No access to the device"));
               const QStringList ready { lasting, phaseStatusText(WorkflowPhase::Connecting) };
               return (prompts == ready.mid(0, 1) || prompts == ready) && panel.size() >= 2
                   && (panel.size() == 2 || (panel.size() == 3 && panel.at(1) == QLatin1String("Waiting...")))
                   && panel.constLast().startsWith(QLatin1String("Pelk+ Connected"))
                   && s.messageTitles().count(QStringLiteral("Connection Failure")) == 1;
           })
        << QStringList { "nothing" } << "Connection Failure: The device at sim/PKA cannot be opened";
    // The window names the other device; unplugging this one is the switch.
    QTest::newRow("another device named, and taken when this one goes") << Devices { plus("PKA", {}),
        plus("PKB", {}, Base) } << Scenario([](WorkflowSession& s) {
        const QLabel* note = s.label("otherDevicesNote");
        const bool named = selected(s) && waitUntil([&] {
            return note->isVisible()
                && note->text()
                == QLatin1String("Also connected: Pelk PKB. To update it instead, unplug this Pelk+ PKA.");
        });
        setPlugged(s, 0, false);
        return named && selected(s, QStringLiteral("Pelk")) && waitUntil([&] { return !note->isVisible(); });
    }) << QStringList { "nothing", "nothing" } << QString();

    // A newer updater offered during the update and accepted: quitting asks first; No goes on.
    QTest::newRow("quit during update asks first")
        << Devices { plus("PKA", { "MP" }) } << Scenario([](WorkflowSession& s) {
               if (!started(s, { plusMcu }) || !waitUntil([&] { return s.workflow()->isUpdating(); })
                   || s.action(QStringLiteral("Check for New Version of Pelk Updater"))->isEnabled())
                   return false;
               s.catalogue.addApplication(QStringLiteral("Win"), QStringLiteral("2.1.0"));
               s.catalogue.publish();
               s.workflow()->checkAppUpdates();
               QMessageBox* offer = nullptr;
               if (!waitUntil([&] { return (offer = s.window->findChild<QMessageBox*>()) != nullptr; }))
                   return false;
               offer->button(QMessageBox::Yes)->click();
               return nothingLeft(s) && s.dialogs->quitRequests == 0;
           })
        << QStringList { "MP 3.2.7" } << "Update in Progress: An update is in progress.";

    // The heading says what happens for as long as the catalogue is fetched.
    QTest::newRow("checking heading stays")
        << Devices { plus("PKA", {}) } << Scenario([](WorkflowSession& s) {
               if (!selected(s))
                   return false;
               s.server.setReply(UpdateCatalogue::manifestPath(),
                   HttpTestServer::Reply::of(s.catalogue.manifest(), 200, 2000));
               if (!s.click("checkUpdatesButton"))
                   return false;
               QTest::qWait(1000);
               return s.box("updatesHeading")->text() == QLatin1String("Checking for latest updates...")
                   && s.box("updatesHeading")->isVisible() && nothingLeft(s, 5000);
           })
        << QStringList { "nothing" } << QString();

    // After an update the Help menu shows what was done, opens the log folder and saves a report.
    QTest::newRow("help menu after an update") << Devices { plus(
        "PKA", { "MP" }) } << Scenario([this](WorkflowSession& s) {
        const QString saved = files.filePath(QStringLiteral("report.txt"));
        s.dialogs->saveFiles.enqueue(saved);
        if (!started(s, { plusMcu }) || !nothingLeft(s) || !triggered(s, "Update History...")
            || !triggered(s, "Show Log Folder") || !triggered(s, "Save Diagnostics Report..."))
            return false;
        const ScriptedDialogs::Call shown = s.dialogs->calls.at(s.dialogs->calls.size() - 3);
        const ScriptedDialogs::Call confirmed = s.dialogs->calls.last();
        QFile report(saved);
        const QString text
            = report.open(QIODevice::ReadOnly) ? QString::fromUtf8(report.readAll()) : QString();
        return shown.kind == QLatin1String("dialog")
            && confirmed.text == QStringLiteral("The report was saved to %1.").arg(saved)
            && !(report.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther))
            && shown.text.section(QLatin1Char('|'), 2, 7)
            == QLatin1String("Pelk+|PKA|MCU Firmware|Production 1.2|Production 2.7 (3.2.7)|verified")
            && s.dialogs->openedUrls == QList<QUrl> { QUrl::fromLocalFile(LogFile::folderPath()) }
        && text.contains(QLatin1String("Pelk+, serial number PKA, path sim/PKA: MCU Firmware Production 2.7"))
            && text.contains(QLatin1String("Production 1.2 -> Production 2.7 (3.2.7)  verified"));
    }) << QStringList { "MP 3.2.7" } << QString();
}

void tst_SafetyWorkflow::scenario()
{
    QFETCH(QList<SimulatedDeviceSettings>, devices);
    QFETCH(Scenario, run);
    QFETCH(QStringList, received);
    QFETCH(QString, shown);

    QFile::remove(UpdateHistory::defaultPath());
    WorkflowSession session;
    publish(session);
    for (const SimulatedDeviceSettings& device : devices)
        session.addDevice(device);
    session.openWindow(ComponentType::WindowsApplication);

    QVERIFY2(run(session), qPrintable(shownTexts(session)));
    QStringList found;
    for (int index = 0; index < devices.size(); ++index)
        found.append(session.engine.holdings(index));
    QCOMPARE(found, received);
    if (!shown.isEmpty())
        QVERIFY2(shownTexts(session).contains(shown), qPrintable(shownTexts(session)));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_SafetyWorkflow, PelkPlus::WindowTest)

#include "tst_SafetyWorkflow.moc"
