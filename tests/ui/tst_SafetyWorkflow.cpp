// What reaches a device when the update is disturbed: unplugged mid-download, another device on the
// bus, a check for a newer updater or a quit during the update, old MCU firmware, an empty file, a
// device that does not take what it was sent. Each row is a scenario against simulated devices and
// the loopback catalogue; every device must end holding nothing, or exactly the images named.
#include "app/ApplicationPaths.h"
#include "device/DeviceProtocol.h"
#include "app/LogFile.h"
#include "app/PelkVersion.h"
#include "app/UpdateHistory.h"
#include "device/DeviceInfo.h"
#include "workflow/DeviceAccessHint.h"
#include "workflow/DiagnosticsReport.h"
#include "support/FixedPowerStatus.h"
#include "support/WindowHarness.h"
#include "update/CatalogueSignature.h"

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

const QString plusMcu = QStringLiteral("MCU Firmware: Version Production 2.7, Size 6 KB");
const QString plusDsp = QStringLiteral("DSP Firmware: Version Production 1.2, Size 8 KB");

// A Pelk+ older than the catalogue in the named components only; a Pelk up to date.
SimulatedDeviceSettings plus(const QString& serial, const QStringList& old, int model = Plus)
{
    SimulatedDeviceSettings s;
    s.model = model;
    s.serialNumber = serial;
    s.path = QStringLiteral("sim/") + serial;
    s.mcuWord = old.contains(QLatin1String("MP")) ? 0x0312 : 0x0327;
    s.dspWord = old.contains(QLatin1String("DSP")) ? 0x0310 : 0x0312;
    s.rebootMs = DeviceProtocol::scaled(1800);
    return s;
}

void publish(WorkflowSession& s)
{
    s.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    s.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    s.catalogue.addApplication(QStringLiteral("Win"), QLatin1String(applicationVersionText));
    s.catalogue.publish();
}

HttpTestServer::Reply reply(const QByteArray& body, int status = 200, int delay = 0)
{
    HttpTestServer::Reply r;
    r.body = body;
    r.status = status;
    r.delay = delay;
    return r;
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

// The update of the first device is started with the second unplugged; the first does not come
// back from its reboot, and the second is plugged in while it is awaited.
bool anotherComesBack(WorkflowSession& s)
{
    s.bus->run([](DeviceBus& bus) { bus.device(0).settings().comeBackAfterReboot = false; });
    // The other device is ignored until the restart's bound passes: a short one here.
    s.workflow()->setDeviceWaitLimits(3000, UpdateWorkflow::deviceAnswerTimeoutMs);
    setPlugged(s, 1, false);
    if (!started(s, { plusMcu, plusDsp })
        || !waitUntil(
            [&] { return s.statusText() == QLatin1String("Waiting for the device to reboot..."); }, 30000))
        return false;
    setPlugged(s, 1, true);
    return true;
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

// A file of the name chosen through the install action.
bool installFile(WorkflowSession& s, const char* action, const QString& path, const QByteArray& contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    s.dialogs->files.enqueue(path);
    return selected(s) && triggered(s, action);
}

// The update history, oldest first: device, component, versions, outcome and whether the digest
// is the one of the image the catalogue serves from the source recorded.
QStringList history(WorkflowSession& s)
{
    QStringList found;
    for (const UpdateHistoryEntry& e : UpdateHistory().entries()) {
        QString digest = QStringLiteral("no digest");
        for (const UpdateCatalogue::Entry& served : s.catalogue.entries()) {
            if (s.server.url(served.path).toString() == e.source
                && QCryptographicHash::hash(served.served, QCryptographicHash::Sha256).toHex() == e.sha256)
                digest = QStringLiteral("digest of ") + served.name;
        }
        found.append(QStringLiteral("%1 %2 %3 %4>%5 %6, %7")
                         .arg(e.model, e.serial, e.component, e.versionBefore, e.versionSent,
                             UpdateHistoryEntry::outcomeText(e.outcome), digest));
    }
    return found;
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
    void passwordNeverWritten_data();
    void passwordNeverWritten();

private:
    // What a device holds, by the catalogue entries its images are byte for byte.
    QString holdings(WorkflowSession& session, int index) const
    {
        const SimulatedDevice device = session.device(index);
        if (device.packetsReceived() == 0)
            return QStringLiteral("nothing");
        QStringList held;
        QList<UpdateCatalogue::Entry> known = session.catalogue.entries() + extraImages;
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

    QList<UpdateCatalogue::Entry> extraImages;
    QTemporaryDir files;
};

void tst_SafetyWorkflow::scenario_data()
{
    QTest::addColumn<QList<SimulatedDeviceSettings>>("devices");
    QTest::addColumn<Scenario>("run");
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QString>("shown");

    using Devices = QList<SimulatedDeviceSettings>;

    // Unplugged while its component downloads slowly; the catalogue's file changes before the
    // device comes back. Only the new download may reach it.
    QTest::newRow("download ends with its step") << Devices { plus(
        "PKA", { "MP" }) } << Scenario([this](WorkflowSession& s) {
        const UpdateCatalogue::Entry* mp = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
        HttpTestServer::Reply slow = reply(mp->served);
        slow.chunkSize = 200;
        slow.chunkDelay = 300;
        s.server.setReply(mp->path, slow, "GET");
        if (!started(s, { plusMcu }))
            return false;
        QTest::qWait(1000);
        setPlugged(s, 0, false);
        const QString partial = ApplicationPaths::downloadDirectory() + QStringLiteral("/MCU Firmware");
        if (!waitUntil(
                [&] { return s.promptText().endsWith(QLatin1String("Please connect a PELK device.")); })
            || !waitUntil([&] { return !QFile::exists(partial); }, 1000))
            return false;
        UpdateCatalogue::Entry fresh = *mp;
        fresh.version += QStringLiteral(" republished");
        fresh.image = fresh.served = UpdateCatalogue::image(6000, mp->version, 4242);
        extraImages.append(fresh);
        s.server.setReply(mp->path, reply(fresh.served), "GET");
        setPlugged(s, 0, true);
        return started(s, { plusMcu }) && nothingLeft(s);
    }) << QStringList { "MP 3.2.7 republished" } << QString();

    // On battery at 12 % with nothing charging it: asked before anything is sent, Stop the default.
    const auto lowBattery = [](WorkflowSession& s) {
        auto* power = new FixedPowerStatus;
        power->setBattery(12);
        s.workflow()->setPowerStatus(power);
    };
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
    QTest::newRow("on a low battery, continued at the question")
        << Devices { plus("PKA", { "MP" }) } << Scenario([lowBattery, askedAboutPower](WorkflowSession& s) {
               lowBattery(s);
               s.dialogs->warningAnswers.enqueue(QMessageBox::Ok);
               // The whole update's line shows under the bars while it runs, and goes with it.
               return started(s, { plusMcu }) && askedAboutPower(s) && waitUntil([&] {
                   return s.label("overallLabel")->text().startsWith(QLatin1String("Component 1 of 1, "));
               }) && nothingLeft(s)
                   && s.label("overallLabel")->text().isEmpty();
           })
        << QStringList { "MP 3.2.7" } << QString();

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
    QTest::newRow("unsigned catalogue, accepted at the question")
        << Devices { plus("PKA", { "MP" }) } << Scenario([askedAboutSignature](WorkflowSession& s) {
               s.dialogs->warningAnswers.enqueue(QMessageBox::Yes);
               return askedAboutSignature(s) && nothingLeft(s);
           })
        << QStringList { "MP 3.2.7" } << QString();

    QTest::newRow("on a low battery, a file to install stopped at the question") << Devices { plus(
        "PKA", {}) } << Scenario([this, lowBattery, askedAboutPower](WorkflowSession& s) {
        lowBattery(s);
        const QByteArray image = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->image;
        return installFile(
                   s, "Install MCU Firmware...", files.filePath(QStringLiteral("BatteryUpdate.bin")), image)
            && askedAboutPower(s) && !waitUntil([&] { return !s.selectionPageShown(); }, 1000)
            && s.workflow()->plan().isEmpty();
    }) << QStringList { "nothing" } << QString();

    // A Pelk sits first in the bus's list while the Pelk+ is updated, and is never chosen.
    QTest::newRow("update stays on its device")
        << Devices { plus("PKB", {}, Base), plus("PKA", { "MP", "DSP" }) }
        << Scenario([](WorkflowSession& s) {
               setPlugged(s, 0, false);
               if (!selected(s))
                   return false;
               setPlugged(s, 0, true);
               QTest::qWait(1500);
               return started(s, { plusMcu, plusDsp }) && nothingLeft(s)
                   && s.log.linesStartingWith(QStringLiteral("Verified: ")).size() == 2
                   && history(s)
                   == QStringList { "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 verified, digest of MP",
                          "Pelk+ PKA DSP Firmware Production 1.0>3.1.2 verified, digest of DSP" };
           })
        << QStringList { "nothing", "MP 3.2.7, DSP 3.1.2" } << QString();

    // The Pelk+ does not return from its reboot; a Pelk is plugged in instead.
    QTest::newRow("only another device comes back")
        << Devices { plus("PKA", { "MP", "DSP" }), plus("PKB", {}, Base) }
        << Scenario(
               [](WorkflowSession& s) { return anotherComesBack(s) && selected(s, QStringLiteral("Pelk")); })
        << QStringList { "MP 3.2.7", "nothing" }
        << "Update Stopped: The Pelk+ being updated (serial number PKA) did not come back after its restart; "
           "a Pelk (serial number PKB) was connected instead.";

    // Without serial numbers any Pelk+ would look like the one being updated: only its own node
    // counts, and another Pelk+ that comes instead gets nothing.
    SimulatedDeviceSettings unnamed = plus(QStringLiteral("A"), { "MP", "DSP" });
    unnamed.serialNumber.clear();
    SimulatedDeviceSettings otherUnnamed = plus(QStringLiteral("B"), {});
    otherUnnamed.serialNumber.clear();
    QTest::newRow("no serial number, another device comes back")
        << Devices { unnamed, otherUnnamed } << Scenario([](WorkflowSession& s) {
               return anotherComesBack(s)
                   && waitUntil([&] { return s.messageTitles().contains(QStringLiteral("Update Stopped")); });
           })
        << QStringList { "MP 3.2.7", "nothing" }
        << "Update Stopped: The Pelk+ being updated (serial number unknown) did not come back after its "
           "restart; a Pelk+ (serial number unknown) was connected instead.";
    QTest::newRow("no serial number, back on its node")
        << Devices { unnamed } << Scenario([](WorkflowSession& s) {
               return started(s, { plusMcu, plusDsp }) && nothingLeft(s);
           })
        << QStringList { "MP 3.2.7, DSP 3.1.2" } << QString();

    // The node is root's alone for a moment after each appearance, until udev grants the user at
    // the computer access: the window waits for it through both reboots.
    SimulatedDeviceSettings lateAccess = plus(QStringLiteral("PKA"), { "MP", "DSP" });
    lateAccess.refuseOpenMs = DeviceProtocol::scaled(1500);
    QTest::newRow("access granted after a moment")
        << Devices { lateAccess } << Scenario([](WorkflowSession& s) {
               return started(s, { plusMcu, plusDsp }) && nothingLeft(s)
                   && !s.messageTitles().contains(QStringLiteral("Connection Failure"))
                   && s.log.linesStartingWith(QStringLiteral("Device failure: access to the device denied"))
                          .isEmpty();
           })
        << QStringList { "MP 3.2.7, DSP 3.1.2" } << QString();
    SimulatedDeviceSettings noAccess = plus(QStringLiteral("PKA"), { "MP" });
    noAccess.refuseOpenMs = 600000;
    QTest::newRow("access never granted")
        << Devices { noAccess } << Scenario([](WorkflowSession& s) {
               return waitUntil(
                   [&] { return s.messageTitles().contains(QStringLiteral("Connection Failure")); });
           })
        << QStringList { "nothing" }
        << "Connection Failure: The device at sim/PKA cannot be opened: this user account is not allowed to "
           "open it.\n\nThe udev rule installed with the updater gives access to the user logged in at the "
           "computer itself, not to a session over ssh, a cron job or a service.";

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
               if (!waitUntil([&] { return s.selectionPageShown(); }, 4 * UpdateWorkflow::reconnectDelayMs))
                   return false;
               const QStringList prompts = s.timeline.texts(QStringLiteral("prompt"));
               const QStringList panel = s.timeline.texts(QStringLiteral("device"));
               return prompts.indexOf(lasting) == prompts.size() - 1
                   && panel.indexOf(QStringLiteral("No access to the device")) == panel.size() - 2
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

    // Swapped within one poll of the monitor: the Pelk comes while the Pelk+'s agent still exists.
    QTest::newRow("swap within one poll")
        << Devices { plus("PKA", {}), plus("PKB", {}, Base) } << Scenario([](WorkflowSession& s) {
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

    // The download is cut, and the server republishes the file before it is resumed: the device gets
    // the new file whole, never the old one's start joined to the new one's end, whether the server
    // names its files by ETag or by date. With the catalogue's digest of the old file, nothing.
    const auto republishedWhileCut = [this](const QByteArray& validator, bool digests) {
        return Scenario([this, validator, digests](WorkflowSession& s) {
            s.catalogue.setDigests(digests);
            s.catalogue.publish();
            const UpdateCatalogue::Entry* mp
                = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
            HttpTestServer::Reply first = reply(mp->served);
            first.headers.append(qMakePair(
                validator, QByteArray(validator == "ETag" ? "\"first\"" : "Mon, 07 Dec 2026 10:00:00 GMT")));
            first.ranges = true;
            first.closeAfter = 3000;
            s.server.setReply(mp->path, first, "GET");
            UpdateCatalogue::Entry fresh = *mp;
            fresh.version += QStringLiteral(" republished");
            fresh.image = fresh.served = UpdateCatalogue::image(6000, mp->version, 4243);
            extraImages.append(fresh);
            HttpTestServer::Reply republished = reply(fresh.served);
            republished.headers.append(qMakePair(
                validator, QByteArray(validator == "ETag" ? "\"second\"" : "Tue, 08 Dec 2026 09:00:00 GMT")));
            republished.ranges = true;
            s.server.replaceAfter(mp->path, 1, republished);
            if (!started(s, { plusMcu }))
                return false;
            if (digests)
                return waitUntil(
                    [&] { return s.messageTitles().contains(QLatin1String("Download Failure")); });
            return nothingLeft(s) && s.server.requestCount(mp->path, "GET") == 2;
        });
    };
    QTest::newRow("republished while cut, etag")
        << Devices { plus("PKA", { "MP" }) } << republishedWhileCut("ETag", false)
        << QStringList { "MP 3.2.7 republished" } << QString();
    QTest::newRow("republished while cut, last-modified")
        << Devices { plus("PKA", { "MP" }) } << republishedWhileCut("Last-Modified", false)
        << QStringList { "MP 3.2.7 republished" } << QString();
    QTest::newRow("republished while cut, digest listed")
        << Devices { plus("PKA", { "MP" }) } << republishedWhileCut("ETag", true) << QStringList { "nothing" }
        << "Download Failure: Failed to download updates.\n\nThe file is not the one the catalogue "
           "describes.\n\nNothing was sent to the device.";

    // The downloaded file is replaced on disk after its download was checked: nothing of it is sent.
    QTest::newRow("file replaced after verification")
        << Devices { plus("PKA", { "MP" }) } << Scenario([](WorkflowSession& s) {
               QObject context;
               QObject::connect(s.workflow()->state("awaitUpdateModeState"), &QState::entered, &context, [] {
                   QFile file(ApplicationPaths::downloadDirectory() + QStringLiteral("/MCU Firmware"));
                   if (file.open(QIODevice::WriteOnly))
                       file.write(UpdateCatalogue::image(6000, QStringLiteral("3.2.7"), 777));
               });
               return started(s, { plusMcu })
                   && waitUntil([&] { return s.messageTitles().contains(QLatin1String("Update Failure")); })
                   && waitUntil([&] { return s.selectionPageShown(); }) && s.device(0).installCount() == 0
                   && history(s)
                   == QStringList { "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 install failed, no digest" };
           })
        << QStringList { "nothing" }
        << "Update Failure: The update could not be completed.\n\nThe MCU Firmware file changed after it was "
           "verified, so nothing was sent to the device.";

    // An updater check fails during the update, then the download does: the re-plan still rests on
    // the check that made the plan.
    QTest::newRow("updater check during update")
        << Devices { plus("PKA", { "DSP" }) } << Scenario([](WorkflowSession& s) {
               const QString dsp = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("DSP"))->path;
               s.server.setReply(dsp, reply(QByteArray(), 404, 1500), "GET");
               if (!started(s, { plusDsp }))
                   return false;
               s.server.setReply(UpdateCatalogue::manifestPath(), reply(QByteArray(), 500));
               s.workflow()->checkAppUpdates();
               return waitUntil([&] { return s.messageTitles().contains(QLatin1String("Download Failure")); })
                   && waitUntil([&] { return s.planItems() == QStringList { plusDsp }; }, 3000);
           })
        << QStringList { "nothing" } << QString();

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

    // MCU Alpha 6.3 has no USB boot loader, whatever the advanced menu asks.
    SimulatedDeviceSettings oldMcu = plus("PKA", {});
    oldMcu.mcuWord = 0x0063;
    QTest::newRow("old mcu, list all components") << Devices { oldMcu } << Scenario([](WorkflowSession& s) {
        return selected(s) && triggered(s, "List All Components")
            && waitUntil([&] { return s.planItems() == QStringList { plusDsp }; })
            && s.box("warningsBox")->text().contains(QLatin1String("cannot be updated by USB"))
            && s.click("startUpdateButton") && nothingLeft(s);
    }) << QStringList { "DSP 3.1.2" } << QString();
    QTest::newRow("old mcu, install from file") << Devices { oldMcu } << Scenario([this](WorkflowSession& s) {
        const QByteArray image = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->image;
        return installFile(
                   s, "Install MCU Firmware...", files.filePath(QStringLiteral("NewUpdate.bin")), image)
            && !QTest::qWaitFor([&] { return !s.selectionPageShown(); }, 3000);
    }) << QStringList { "nothing" } << "cannot be updated by USB";

    QTest::newRow("empty file refused")
        << Devices { plus("PKA", {}) } << Scenario([this](WorkflowSession& s) {
               return installFile(s, "Install DSP Firmware...", files.filePath(QStringLiteral("Empty.ldr")),
                          QByteArray())
                   && !QTest::qWaitFor([&] { return !s.selectionPageShown(); }, 1000)
                   && s.workflow()->plan().isEmpty();
           })
        << QStringList { "nothing" } << "Invalid File: This file is empty";

    // The heading says what happens for as long as the catalogue is fetched.
    QTest::newRow("checking heading stays")
        << Devices { plus("PKA", {}) } << Scenario([](WorkflowSession& s) {
               if (!selected(s))
                   return false;
               s.server.setReply(UpdateCatalogue::manifestPath(), reply(s.catalogue.manifest(), 200, 2000));
               if (!s.click("checkUpdatesButton"))
                   return false;
               QTest::qWait(1000);
               return s.box("updatesHeading")->text() == QLatin1String("Checking for latest updates...")
                   && s.box("updatesHeading")->isVisible() && nothingLeft(s, 5000);
           })
        << QStringList { "nothing" } << QString();

    // Asked from the menu while the silent start-up check runs: that check answers aloud.
    QTest::newRow("menu check during start-up check") << Devices {} << Scenario([](WorkflowSession& s) {
        s.server.setReply(UpdateCatalogue::manifestPath(), reply(s.catalogue.manifest(), 200, 2000));
        QTest::qWait(300);
        return triggered(s, "Check for New Version of Pelk Updater")
            && waitUntil([&] { return !s.messages().isEmpty(); }, 5000);
    }) << QStringList {} << ": No updates available for Pelk Updater.";

    // Every file is fetched and checked before the first goes out: a served image one byte off its
    // catalogue digest, or a later file that cannot be fetched, leaves the device untouched.
    const auto refusedDownload = [](bool tamper) {
        return Scenario([tamper](WorkflowSession& s) {
            s.catalogue.setDigests(true);
            s.catalogue.addComponent(
                QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), 3000);
            s.catalogue.publish();
            const UpdateCatalogue::Entry* dsp
                = s.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("DSP"));
            QByteArray served = dsp->served;
            served[served.size() / 2] = char(served.at(served.size() / 2) ^ 1);
            s.server.setReply(dsp->path, tamper ? reply(served) : reply(QByteArray(), 404), "GET");
            QStringList texts;
            QObject context;
            QObject::connect(s.workflow(), &WorkflowNotifier::downloadTextChanged, &context,
                [&](const QString& text) { texts.append(text); });
            return selected(s) && triggered(s, "List All Components")
                && waitUntil([&] { return s.planItems().size() == 3; }) && s.click("startUpdateButton")
                && waitUntil([&] { return s.messageTitles().contains(QLatin1String("Download Failure")); })
                && history(s)
                == QStringList { "Pelk+ PKA DSP Firmware Production 1.2>3.1.2 download failed, no digest" }
            && waitUntil([&] { return s.selectionPageShown(); })
                && texts.contains(QStringLiteral("Downloading DSP Firmware (file 2 of 3), 8 KB"))
                && !texts.contains(QStringLiteral("Downloading Styles (file 3 of 3), 3 KB"))
                && !(tamper
                    && QFile::exists(
                        ApplicationPaths::downloadDirectory() + QStringLiteral("/DSP Firmware")));
        });
    };
    QTest::newRow("tampered file never sent") << Devices { plus("PKA", { "MP" }) } << refusedDownload(true)
                                              << QStringList { "nothing" } << QString();
    QTest::newRow("second of three fails") << Devices { plus("PKA", { "MP" }) } << refusedDownload(false)
                                           << QStringList { "nothing" } << QString();

    // A catalogue listing one type twice: each entry's file is downloaded to a path of its own, so
    // each install sends its own image.
    QTest::newRow("two files of one type")
        << Devices { plus("PKA", { "MP" }) } << Scenario([](WorkflowSession& s) {
               s.catalogue.addComponent(
                   QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.8"), 6000);
               s.catalogue.publish();
               const QStringList verified = { "MCU Firmware 3.2.7 verified", "DSP Firmware 3.1.2 verified",
                   "MCU Firmware 3.2.8 verified" };
               QStringList outcomes;
               return selected(s) && triggered(s, "List All Components")
                   && waitUntil([&] { return s.planItems().size() == 3; }) && s.click("startUpdateButton")
                   && nothingLeft(s)
                   && (outcomes =
                              [] {
                                  QStringList found;
                                  for (const UpdateHistoryEntry& e : UpdateHistory().entries())
                                      found.append(e.component + QLatin1Char(' ') + e.versionSent
                                          + QLatin1Char(' ') + UpdateHistoryEntry::outcomeText(e.outcome));
                                  return found;
                              }())
                   == verified;
           })
        << QStringList { "MP 3.2.8, DSP 3.1.2" } << QString();

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

    // A key is trusted and the catalogue is not signed: nothing is planned, and the user is told why.
    QTest::newRow("unverified catalogue")
        << Devices { plus("PKA", { "MP" }) } << Scenario([](WorkflowSession& s) {
               CatalogueSignature::initialise();
               QSettings().setValue(QStringLiteral("update/trusted-keys"),
                   QString::fromLatin1(
                       CatalogueSignature::encodeKey(CatalogueSignature::generateKeyPair().publicKey)));
               const bool refused = selected(s) && s.click("checkUpdatesButton") && waitUntil([&] {
                   return s.messageTitles().contains(QLatin1String("Update Check Failure"));
               }) && s.planItems().isEmpty();
               QSettings().remove(QStringLiteral("update/trusted-keys"));
               return refused;
           })
        << QStringList { "nothing" } << "Update Check Failure: The update catalogue could not be verified";

    // The device takes the MCU firmware whole but keeps its old version: the update stops before the
    // DSP firmware, both are planned again, and a recorder hears the verdict.
    SimulatedDeviceSettings stubborn = plus("PKA", { "MP", "DSP" });
    stubborn.keepVersionAfterInstall = true;
    QTest::newRow("device keeps its old version")
        << Devices { stubborn } << Scenario([](WorkflowSession& s) {
               QStringList heard;
               QObject context;
               QObject::connect(s.workflow(), &WorkflowNotifier::componentVerified, &context,
                   [&](ComponentType, const QString& before, const QString& sent,
                       VerificationOutcome outcome) {
                       heard.append(QStringLiteral("%1>%2 %3").arg(before, sent).arg(int(outcome)));
                   });
               return started(s, { plusMcu, plusDsp })
                   && waitUntil(
                       [&] { return s.messageTitles().contains(QLatin1String("Update Not Applied")); }, 30000)
                   && waitUntil([&] {
                          return s.planItems() == QStringList { plusMcu, plusDsp };
                      })
                   && heard == QStringList { "Production 1.2>3.2.7 1" }
               && history(s)
                   == QStringList { "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 not applied, digest of MP" };
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

    extraImages.clear();
    QFile::remove(UpdateHistory::defaultPath());
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

void tst_SafetyWorkflow::passwordNeverWritten_data()
{
    QTest::addColumn<QString>("place");
    QTest::newRow("history") << "history";
    QTest::newRow("log") << "log";
    QTest::newRow("diagnostics report") << "diagnostics report";
}

// Catalogue URLs that carry a user name and password: after an update, the place named holds the
// URLs without them.
void tst_SafetyWorkflow::passwordNeverWritten()
{
    QFETCH(QString, place);
    QFile::remove(UpdateHistory::defaultPath());
    WorkflowSession session;
    session.catalogue.setUserInfo(QStringLiteral("publisher:hunter2"));
    publish(session);
    session.addDevice(plus("PKA", { "MP" }));
    session.openWindow(ComponentType::WindowsApplication);
    QVERIFY(session.catalogue.manifestUrl().toString().contains(QLatin1String("hunter2")));
    QVERIFY2(started(session, { plusMcu }) && nothingLeft(session), qPrintable(shownTexts(session)));

    QString text;
    if (place == QLatin1String("history")) {
        QFile file(UpdateHistory::defaultPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        text = QString::fromUtf8(file.readAll());
    } else if (place == QLatin1String("log")) {
        text = session.log.lines().join(QLatin1Char('\n'));
    } else {
        text = DiagnosticsReport::build(
            session.workflow()->diagnosticsDevices(), session.workflow()->history(), QString());
    }
    QVERIFY2(!text.contains(QLatin1String("hunter2")) && !text.contains(QLatin1String("publisher")),
        qPrintable(text));
    // The URLs are there, without their user-info part.
    const QString mp
        = session.server.url(session.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->path)
              .toString();
    QVERIFY2(
        text.contains(
            place == QLatin1String("diagnostics report") ? session.server.url(QString()).toString() : mp),
        qPrintable(text));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_SafetyWorkflow, PelkPlus::WindowTest)

#include "tst_SafetyWorkflow.moc"
