// What reaches a device when the update is disturbed: unplugged mid-download, another device on the
// bus, a check for a newer updater or a quit during the update, old MCU firmware, an empty file, a
// device that does not take what it was sent. Each row is a scenario against simulated devices and
// the loopback catalogue; every device must end holding nothing, or exactly the images named.
#include "app/ApplicationPaths.h"
#include "device/DeviceInfo.h"
#include "support/WindowHarness.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace PelkPlus {
// Drives one session and tells whether every step went as it should.
using Scenario = std::function<bool(WorkflowSession&)>;
} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::Scenario)
Q_DECLARE_METATYPE(PelkPlus::SimulatedDeviceSettings)

namespace PelkPlus {

namespace {

const QString plusDsp = QStringLiteral("DSP Firmware: Version Production 1.2, Size 8 KB");

bool waitUntil(const std::function<bool()>& done, int timeout = 15000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeout)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// A Pelk+ older than the catalogue in the named components only.
SimulatedDeviceSettings plus(const QString& serial, const QStringList& old)
{
    SimulatedDeviceSettings s;
    s.serialNumber = serial;
    s.path = QStringLiteral("sim/") + serial;
    s.mcuWord = old.contains(QLatin1String("MP")) ? 0x0312 : 0x0327;
    s.dspWord = old.contains(QLatin1String("DSP")) ? 0x0310 : 0x0312;
    s.rebootMs = 1800;
    return s;
}

SimulatedDeviceSettings base(const QString& serial)
{
    SimulatedDeviceSettings s = plus(serial, {});
    s.model = Base;
    return s;
}

void publish(WorkflowSession& session)
{
    session.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    session.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    session.catalogue.addApplication(QStringLiteral("Win"), QStringLiteral("2.0.2"));
    session.catalogue.publish();
}

void setPlugged(WorkflowSession& session, int device, bool plugged)
{
    session.bus->run([device, plugged](DeviceBus& bus) {
        if (!plugged) {
            bus.unplug(device);
            return;
        }
        bus.device(device).restarted();
        bus.plug(device);
    });
}

bool selected(WorkflowSession& session, const QString& model = QStringLiteral("Pelk+"))
{
    return waitUntil([&] {
        return session.selectionPageShown()
            && session.deviceText().startsWith(model + QLatin1String(" Connected"));
    });
}

// Checks for updates and waits for the plan to read as given.
bool planned(WorkflowSession& session, const QStringList& items)
{
    return session.click("checkUpdatesButton") && waitUntil([&] { return session.planItems() == items; });
}

bool nothingLeft(WorkflowSession& session, int timeout = 60000)
{
    return waitUntil(
        [&] {
            return session.selectionPageShown()
                && session.box("updatesHeading")->text().startsWith(QLatin1String("No updates available"));
        },
        timeout);
}

bool updateFromCheck(WorkflowSession& session, const QStringList& items)
{
    return selected(session) && planned(session, items) && session.click("startUpdateButton")
        && nothingLeft(session);
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
    // What a device holds, by the catalogue entries its images are byte for byte.
    QString holdings(WorkflowSession& session, int index) const
    {
        const SimulatedDevice device = session.device(index);
        if (device.packetsReceived() == 0)
            return QStringLiteral("nothing");
        QStringList held;
        QList<UpdateCatalogue::Entry> known = session.catalogue.entries() + m_extraImages;
        for (int component = 0; component < 4; ++component) {
            if (device.installedImage(component).isEmpty())
                continue;
            QString name = QStringLiteral("unknown image");
            for (const UpdateCatalogue::Entry& entry : known) {
                if (!entry.image.isEmpty() && device.holdsImage(component, entry.image))
                    name = entry.name + QLatin1Char(' ') + entry.version;
            }
            held.append(name);
        }
        return held.isEmpty() ? QStringLiteral("incomplete transfers") : held.join(QLatin1String(", "));
    }

    QList<UpdateCatalogue::Entry> m_extraImages;
    QTemporaryDir m_files;
};

void tst_SafetyWorkflow::scenario_data()
{
    QTest::addColumn<QList<SimulatedDeviceSettings>>("devices");
    QTest::addColumn<Scenario>("run");
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QString>("shown");

    // Unplugged while its first component downloads slowly; the catalogue's file changes before
    // the device comes back. Only the new download may reach it.
    QTest::newRow("download ends with its step") << QList<SimulatedDeviceSettings> { plus(
        "PKA", { "MP" }) } << Scenario([this](WorkflowSession& s) {
        const UpdateCatalogue::Entry* mp = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
        HttpTestServer::Reply slow;
        slow.body = mp->served;
        slow.chunkSize = 200;
        slow.chunkDelay = 300;
        s.server.setReply(mp->path, slow, "GET");
        if (!selected(s) || !planned(s, { "MCU Firmware: Version Production 2.7, Size 6 KB" })
            || !s.click("startUpdateButton"))
            return false;
        QTest::qWait(1000);
        setPlugged(s, 0, false);
        if (!waitUntil([&] { return s.promptText() == QLatin1String("Please connect a PELK device."); }))
            return false;
        const QString partial = ApplicationPaths::downloadDirectory() + QStringLiteral("/MCU Firmware");
        if (!waitUntil([&] { return !QFile::exists(partial); }, 1000))
            return false;
        UpdateCatalogue::Entry fresh = *mp;
        fresh.version += QStringLiteral(" republished");
        fresh.image = fresh.served = UpdateCatalogue::image(6000, mp->version, 4242);
        m_extraImages.append(fresh);
        HttpTestServer::Reply now;
        now.body = fresh.served;
        s.server.setReply(mp->path, now, "GET");
        setPlugged(s, 0, true);
        return updateFromCheck(s, { "MCU Firmware: Version Production 2.7, Size 6 KB" });
    }) << QStringList { "MP 3.2.7 republished" } << QString();

    // A Pelk sits first in the bus's list while the Pelk+ is updated; it comes back after every reboot
    // of the Pelk+ and is never chosen.
    QTest::newRow("update stays on its device")
        << QList<SimulatedDeviceSettings> { base("PKB"), plus("PKA", { "MP", "DSP" }) }
        << Scenario([](WorkflowSession& s) {
               setPlugged(s, 0, false);
               if (!selected(s))
                   return false;
               setPlugged(s, 0, true);
               QTest::qWait(1500);
               return updateFromCheck(s, { "MCU Firmware: Version Production 2.7, Size 6 KB", plusDsp })
                   && s.log.linesStartingWith(QStringLiteral("Verified: ")).size() == 2;
           })
        << QStringList { "nothing", "MP 3.2.7, DSP 3.1.2" } << QString();

    // The Pelk+ does not return from its reboot; a Pelk is plugged in instead.
    QTest::newRow("only another device comes back")
        << QList<SimulatedDeviceSettings> { plus("PKA", { "MP", "DSP" }), base("PKB") }
        << Scenario([](WorkflowSession& s) {
               s.bus->run([](DeviceBus& bus) { bus.device(0).settings().comeBackAfterReboot = false; });
               setPlugged(s, 1, false);
               if (!selected(s) || !planned(s, { "MCU Firmware: Version Production 2.7, Size 6 KB", plusDsp })
                   || !s.click("startUpdateButton"))
                   return false;
               if (!waitUntil(
                       [&] { return s.statusText() == QLatin1String("Waiting for the device to reboot..."); },
                       30000))
                   return false;
               setPlugged(s, 1, true);
               return selected(s, QStringLiteral("Pelk"));
           })
        << QStringList { "MP 3.2.7", "nothing" }
        << "Update Stopped: The Pelk+ being updated (serial number PKA) did not come back after its "
           "restart; a Pelk (serial number PKB) was connected instead.";

    // Swapped within one poll of the monitor: the Pelk's connection comes while the Pelk+'s agent
    // still exists.
    QTest::newRow("swap within one poll") << QList<SimulatedDeviceSettings> { plus("PKA", {}), base("PKB") }
                                          << Scenario([](WorkflowSession& s) {
                                                 setPlugged(s, 1, false);
                                                 if (!selected(s))
                                                     return false;
                                                 s.bus->run([](DeviceBus& bus) {
                                                     bus.unplug(0);
                                                     bus.device(1).restarted();
                                                     bus.plug(1);
                                                 });
                                                 return selected(s, QStringLiteral("Pelk"));
                                             })
                                          << QStringList { "nothing", "nothing" } << QString();

    // A check for a newer updater fails during the update, then the download does: the re-plan
    // still rests on the check that made the plan.
    QTest::newRow("updater check during update")
        << QList<SimulatedDeviceSettings> { plus("PKA", { "DSP" }) } << Scenario([](WorkflowSession& s) {
               HttpTestServer::Reply missing;
               missing.status = 404;
               missing.delay = 1500;
               s.server.setReply(
                   s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("DSP"))->path, missing, "GET");
               if (!selected(s) || !planned(s, { plusDsp }) || !s.click("startUpdateButton"))
                   return false;
               HttpTestServer::Reply broken;
               broken.status = 500;
               s.server.setReply(UpdateCatalogue::manifestPath(), broken);
               s.workflow()->checkAppUpdates();
               return waitUntil([&] { return s.messageTitles().contains(QLatin1String("Download Failure")); })
                   && waitUntil([&] { return s.planItems() == QStringList { plusDsp }; }, 3000);
           })
        << QStringList { "nothing" } << QString();

    // A newer updater is offered during the update and accepted: quitting asks first; No keeps the
    // update going.
    QTest::newRow("quit during update asks first")
        << QList<SimulatedDeviceSettings> { plus("PKA", { "MP" }) } << Scenario([](WorkflowSession& s) {
               if (!selected(s) || !planned(s, { "MCU Firmware: Version Production 2.7, Size 6 KB" })
                   || !s.click("startUpdateButton") || !waitUntil([&] { return s.workflow()->isUpdating(); }))
                   return false;
               if (s.action(QStringLiteral("Check for New Version of Pelk Updater"))->isEnabled())
                   return false;
               s.catalogue.addApplication(QStringLiteral("Win"), QStringLiteral("2.1.0"));
               s.catalogue.publish();
               s.workflow()->checkAppUpdates();
               QMessageBox* offer = nullptr;
               if (!waitUntil([&] {
                       const auto boxes = s.window->findChildren<QMessageBox*>();
                       for (QMessageBox* box : boxes)
                           offer = box->text().startsWith(QLatin1String("New Pelk Updater")) ? box : offer;
                       return offer != nullptr;
                   }))
                   return false;
               offer->button(QMessageBox::Yes)->click();
               return nothingLeft(s) && s.dialogs->quitRequests == 0;
           })
        << QStringList { "MP 3.2.7" } << "Update in Progress: An update is in progress.";

    // MCU Alpha 6.3 has no USB boot loader, whatever the advanced menu asks.
    SimulatedDeviceSettings oldMcu = plus("PKA", {});
    oldMcu.mcuWord = 0x0063;
    QTest::newRow("old mcu, list all components")
        << QList<SimulatedDeviceSettings> { oldMcu } << Scenario([](WorkflowSession& s) {
               if (!selected(s) || !waitUntil([&] {
                       return s.action(QStringLiteral("List All Components"))->isEnabled();
                   }))
                   return false;
               s.action(QStringLiteral("List All Components"))->trigger();
               return waitUntil([&] { return s.planItems() == QStringList { plusDsp }; })
                   && s.box("warningsBox")->text().contains(QLatin1String("cannot be updated by USB"))
                   && s.click("startUpdateButton") && nothingLeft(s);
           })
        << QStringList { "DSP 3.1.2" } << QString();

    QTest::newRow("old mcu, install from file")
        << QList<SimulatedDeviceSettings> { oldMcu } << Scenario([this](WorkflowSession& s) {
               const QString path = m_files.filePath(QStringLiteral("NewUpdate.bin"));
               QFile file(path);
               if (!file.open(QIODevice::WriteOnly)
                   || file.write(s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->image) <= 0)
                   return false;
               file.close();
               s.dialogs->files.enqueue(path);
               if (!selected(s) || !waitUntil([&] {
                       return s.action(QStringLiteral("Install MCU Firmware..."))->isEnabled();
                   }))
                   return false;
               s.action(QStringLiteral("Install MCU Firmware..."))->trigger();
               QTest::qWait(3000);
               return s.selectionPageShown();
           })
        << QStringList { "nothing" } << "cannot be updated by USB";

    QTest::newRow("empty file refused") << QList<SimulatedDeviceSettings> { plus(
        "PKA", {}) } << Scenario([this](WorkflowSession& s) {
        const QString path = m_files.filePath(QStringLiteral("Empty.ldr"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.close();
        s.dialogs->files.enqueue(path);
        if (!selected(s)
            || !waitUntil([&] { return s.action(QStringLiteral("Install DSP Firmware..."))->isEnabled(); }))
            return false;
        s.action(QStringLiteral("Install DSP Firmware..."))->trigger();
        QTest::qWait(1000);
        return s.selectionPageShown() && s.workflow()->plan().isEmpty();
    }) << QStringList { "nothing" } << "Invalid File: This file is empty";

    // The heading says what happens for as long as the catalogue is fetched.
    QTest::newRow("checking heading stays")
        << QList<SimulatedDeviceSettings> { plus("PKA", {}) } << Scenario([](WorkflowSession& s) {
               if (!selected(s))
                   return false;
               HttpTestServer::Reply late;
               late.body = s.catalogue.manifest();
               late.delay = 2000;
               s.server.setReply(UpdateCatalogue::manifestPath(), late);
               if (!s.click("checkUpdatesButton"))
                   return false;
               QTest::qWait(1000);
               return s.box("updatesHeading")->text() == QLatin1String("Checking for latest updates...")
                   && s.box("updatesHeading")->isVisible() && nothingLeft(s, 5000);
           })
        << QStringList { "nothing" } << QString();

    // Asked from the menu while the silent start-up check runs: that check answers aloud.
    QTest::newRow("menu check during start-up check")
        << QList<SimulatedDeviceSettings> {} << Scenario([](WorkflowSession& s) {
               HttpTestServer::Reply late;
               late.body = s.catalogue.manifest();
               late.delay = 2000;
               s.server.setReply(UpdateCatalogue::manifestPath(), late);
               QTest::qWait(300);
               s.action(QStringLiteral("Check for New Version of Pelk Updater"))->trigger();
               return waitUntil([&] { return !s.messages().isEmpty(); }, 5000);
           })
        << QStringList {} << ": No updates available for Pelk Updater.";

    // The device takes the MCU firmware whole but comes back with its old version: the update stops
    // before the DSP firmware and both are planned again.
    SimulatedDeviceSettings stubborn = plus("PKA", { "MP", "DSP" });
    stubborn.keepVersionAfterInstall = true;
    QTest::newRow("device keeps its old version")
        << QList<SimulatedDeviceSettings> { stubborn } << Scenario([](WorkflowSession& s) {
               QStringList outcomes;
               QObject context;
               QObject::connect(s.workflow(), &WorkflowNotifier::componentVerified, &context,
                   [&](ComponentType, const QString& before, const QString& sent,
                       VerificationOutcome outcome) {
                       outcomes.append(before + QLatin1Char('>') + sent + QLatin1Char(' ')
                           + QString::number(int(outcome)));
                   });
               const QStringList both = { "MCU Firmware: Version Production 2.7, Size 6 KB", plusDsp };
               return selected(s) && planned(s, both) && s.click("startUpdateButton")
                   && waitUntil(
                       [&] { return s.messageTitles().contains(QLatin1String("Update Not Applied")); }, 30000)
                   && waitUntil([&] { return s.planItems() == both; })
                   && outcomes == QStringList { "Production 1.2>3.2.7 1" };
           })
        << QStringList { "MP 3.2.7" }
        << "Update Not Applied: The device did not take the MCU Firmware update.\n\nVersion sent: Production "
           "2.7\nVersion the device reports: Production 1.2";
}

void tst_SafetyWorkflow::scenario()
{
    QFETCH(QList<SimulatedDeviceSettings>, devices);
    QFETCH(Scenario, run);
    QFETCH(QStringList, received);
    QFETCH(QString, shown);

    m_extraImages.clear();
    WorkflowSession session;
    publish(session);
    for (const SimulatedDeviceSettings& device : devices)
        session.addDevice(device);
    session.openWindow(ComponentType::WindowsApplication);

    QVERIFY2(run(session), qPrintable(shownTexts(session)));
    QStringList found;
    for (int index = 0; index < devices.size(); ++index)
        found.append(holdings(session, index));
    QCOMPARE(found, received);
    if (!shown.isEmpty())
        QVERIFY2(shownTexts(session).contains(shown), qPrintable(shownTexts(session)));
}

} // namespace PelkPlus

PELK_WINDOW_TEST_MAIN(PelkPlus::tst_SafetyWorkflow)

#include "tst_SafetyWorkflow.moc"
