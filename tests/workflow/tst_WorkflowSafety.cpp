// What reaches a device when the update is disturbed, on the engine: unplugged mid-download,
// another device on the bus or in its place, a node that refuses to open, a check for a newer
// updater during the update, old MCU firmware, an empty file, a file changed or cut on its way, a
// device that does not take what it was sent. Each row is a scenario against simulated devices and
// the loopback catalogue; every device must end holding nothing, or exactly the images named, and
// the user must have been told what the row names.
#include "app/ApplicationPaths.h"
#include "app/PelkVersion.h"
#include "app/UpdateHistory.h"
#include "device/DeviceModel.h"
#include "device/DeviceProtocol.h"
#include "support/EngineFixture.h"
#include "update/CatalogueSignature.h"
#include "workflow/DiagnosticsReport.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QFile>
#include <QSettings>
#include <QState>
#include <QTemporaryDir>
#include <QtTest>

namespace PelkPlus {

namespace {

const QString mcu = QStringLiteral("MCU Firmware 3.2.7");
const QString dsp = QStringLiteral("DSP Firmware 3.1.2");

SimulatedDeviceSettings plus(const QString& serial, const QStringList& old, int model = Plus)
{
    return EngineFixture::olderDevice(old, serial, model);
}

using Reply = HttpTestServer::Reply;

// Everything listed, whatever the device holds, with this many components in the plan.
bool listedAll(EngineFixture& f, int count)
{
    if (!f.waitForReady())
        return false;
    f.workflow()->listAllComponents();
    return waitUntil([&] { return f.workflow()->plan().size() == count; });
}

// The update of the first device is started with the second unplugged; the first does not come
// back from its reboot, and the second is plugged in while it is awaited.
bool anotherComesBack(EngineFixture& f)
{
    f.bus->run([](DeviceBus& bus) { bus.device(0).settings().comeBackAfterReboot = false; });
    // The other device is ignored until the restart's bound passes: a short one here.
    f.workflow()->setDeviceWaitLimits(3000, UpdateWorkflow::deviceAnswerTimeoutMs);
    f.unplug(1);
    if (!f.startPlanned({ mcu, dsp }) || !f.waitForPhase(WorkflowPhase::AwaitingReboot, 30000))
        return false;
    f.plug(1);
    return true;
}

// A file of the name asked for by the install of the type, which is then checked.
bool installFile(EngineFixture& f, ComponentType type, const QString& path, const QByteArray& contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    if (!f.waitForReady())
        return false;
    f.answer(path);
    f.workflow()->installComponentFromFile(type);
    return true;
}

// Nothing is under way, nor begins within a moment: the workflow rests where it was.
bool nothingStarted(EngineFixture& f)
{
    return !waitUntil([&] { return f.workflow()->isUpdating(); }, 500) && f.device().packetsReceived() == 0;
}

QByteArray mcuImage(const EngineFixture& f)
{
    return f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->image;
}

} // namespace

class tst_WorkflowSafety : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
    void passwordNeverWritten_data();
    void passwordNeverWritten();

private:
    // A catalogue of the MCU and DSP firmware and of this updater, the devices and the workflow.
    static void begin(EngineFixture& f, const Devices& devices);

    QList<UpdateCatalogue::Entry> extraImages;
    QTemporaryDir files;
};

void tst_WorkflowSafety::begin(EngineFixture& f, const Devices& devices)
{
    f.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    f.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    f.catalogue.addApplication(QStringLiteral("Win"), QLatin1String(applicationVersionText));
    f.catalogue.publish();
    for (const SimulatedDeviceSettings& device : devices)
        f.addDevice(device);
    f.appPackage = ComponentType::WindowsApplication;
    f.start();
}

void tst_WorkflowSafety::scenario_data()
{
    QTest::addColumn<Devices>("devices");
    QTest::addColumn<EngineScript>("run");
    QTest::addColumn<QStringList>("received");
    // A text the user must have been told (titles and texts of messages and questions), or none.
    QTest::addColumn<QString>("told");

    // Unplugged while its component downloads slowly; the catalogue's file changes before the
    // device comes back. Only the new download may reach it.
    QTest::newRow("download ends with its step") << Devices { plus(
        "PKA", { "MP" }) } << EngineScript([this](EngineFixture& f) {
        const UpdateCatalogue::Entry* mp = f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
        Reply slow = Reply::of(mp->served);
        slow.chunkSize = 200;
        slow.chunkDelay = 300;
        f.server.setReply(mp->path, slow, "GET");
        const QString partial = ApplicationPaths::downloadDirectory() + QStringLiteral("/MCU Firmware");
        if (!f.startPlanned({ mcu }) || !waitUntil([&] { return QFile::exists(partial); }))
            return false;
        f.phases.clear();
        f.unplug();
        if (!f.waitForPhase(WorkflowPhase::NoDevice)
            || !waitUntil([&] { return !QFile::exists(partial); }, 1000))
            return false;
        UpdateCatalogue::Entry fresh = *mp;
        fresh.version += QStringLiteral(" republished");
        fresh.image = fresh.served = UpdateCatalogue::image(6000, mp->version, 4242);
        extraImages.append(fresh);
        f.server.setReply(mp->path, Reply::of(fresh.served), "GET");
        f.plug();
        return f.startPlanned({ mcu }) && f.waitForUpToDate();
    }) << QStringList { "MP 3.2.7 republished" } << QString();

    // On battery at 12 % with nothing charging it: asked before anything is sent (going on at the
    // question is tst_UpdateWorkflowEngine's).
    const QString lowBattery = QStringLiteral("Low Battery: The computer is running on its battery at 12 %");
    QTest::newRow("on a low battery, a file to install stopped at the question")
        << Devices { plus("PKA", {}) } << EngineScript([this](EngineFixture& f) {
               f.power->setBattery(12);
               return installFile(f, ComponentType::McuFirmware,
                          files.filePath(QStringLiteral("BatteryUpdate.bin")), mcuImage(f))
                   && f.waitForMessage(QStringLiteral("Low Battery")) && nothingStarted(f)
                   && f.workflow()->plan().isEmpty();
           })
        << QStringList { "nothing" } << lowBattery;

    // A catalogue no trusted key signed: asked as the update starts, and Yes goes on.
    QTest::newRow("unsigned catalogue, accepted at the question")
        << Devices { plus("PKA", { "MP" }) } << EngineScript([](EngineFixture& f) {
               f.workflow()->setUnsignedCatalogueAllowed(false);
               f.answer(QStringLiteral("yes"));
               return f.startPlanned({ mcu }) && f.waitForUpToDate()
                   && f.told(QStringLiteral("Unsigned Update Catalogue"));
           })
        << QStringList { "MP 3.2.7" } << "could have been changed on the way";

    // A Pelk sits first in the bus's list while the Pelk+ is updated, and is never chosen.
    QTest::newRow("update stays on its device")
        << Devices { plus("PKB", {}, Base), plus("PKA", { "MP", "DSP" }) }
        << EngineScript([](EngineFixture& f) {
               f.unplug(0);
               if (!f.waitForReady())
                   return false;
               f.plug(0);
               return waitUntil([&] { return f.workflow()->connections().size() == 2; })
                   && f.startPlanned({ mcu, dsp }) && f.waitForUpToDate()
                   && f.log.linesStartingWith(QStringLiteral("Verified: ")).size() == 2
                   && f.history()
                   == QStringList { "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 verified, digest of MP",
                          "Pelk+ PKA DSP Firmware Production 1.0>3.1.2 verified, digest of DSP" };
           })
        << QStringList { "nothing", "MP 3.2.7, DSP 3.1.2" } << QString();

    // The Pelk+ does not return from its reboot; a Pelk is plugged in instead.
    QTest::newRow("only another device comes back")
        << Devices { plus("PKA", { "MP", "DSP" }), plus("PKB", {}, Base) }
        << EngineScript([](EngineFixture& f) { return anotherComesBack(f) && f.waitForReady(Base); })
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
        << Devices { unnamed, otherUnnamed } << EngineScript([](EngineFixture& f) {
               return anotherComesBack(f) && f.waitForMessage(QStringLiteral("Update Stopped"));
           })
        << QStringList { "MP 3.2.7", "nothing" }
        << "Update Stopped: The Pelk+ being updated (serial number unknown) did not come back after its "
           "restart; a Pelk+ (serial number unknown) was connected instead.";
    QTest::newRow("no serial number, back on its node")
        << Devices { unnamed } << EngineScript([](EngineFixture& f) {
               return f.startPlanned({ mcu, dsp }) && f.waitForUpToDate();
           })
        << QStringList { "MP 3.2.7, DSP 3.1.2" } << QString();

    // The node is root's alone for a moment after each appearance, until udev grants the user at
    // the computer access: the workflow waits for it through both reboots.
    SimulatedDeviceSettings lateAccess = plus(QStringLiteral("PKA"), { "MP", "DSP" });
    lateAccess.refuseOpenMs = DeviceProtocol::scaled(1500);
    QTest::newRow("access granted after a moment")
        << Devices { lateAccess } << EngineScript([](EngineFixture& f) {
               return f.startPlanned({ mcu, dsp }) && f.waitForUpToDate()
                   && !f.told(QStringLiteral("Connection Failure"))
                   && f.log.linesStartingWith(QStringLiteral("Device failure: access to the device denied"))
                          .isEmpty();
           })
        << QStringList { "MP 3.2.7, DSP 3.1.2" } << QString();
    SimulatedDeviceSettings noAccess = plus(QStringLiteral("PKA"), { "MP" });
    noAccess.refuseOpenMs = 600000;
    QTest::newRow("access never granted")
        << Devices { noAccess } << EngineScript([](EngineFixture& f) {
               return f.waitForMessage(QStringLiteral("Connection Failure"));
           })
        << QStringList { "nothing" }
        << "Connection Failure: The device at sim/PKA cannot be opened: this user account is not allowed to "
           "open it.\n\nThe udev rule installed with the updater gives access to the user logged in at the "
           "computer itself, not to a session over ssh, a cron job or a service.";

    // Swapped within one poll of the monitor: the Pelk comes while the Pelk+'s agent still exists.
    QTest::newRow("swap within one poll")
        << Devices { plus("PKA", {}), plus("PKB", {}, Base) } << EngineScript([](EngineFixture& f) {
               f.unplug(1);
               if (!f.waitForReady())
                   return false;
               f.bus->run([](DeviceBus& bus) {
                   bus.unplug(0);
                   bus.device(1).restarted();
                   bus.plug(1);
               });
               return f.waitForReady(Base);
           })
        << QStringList { "nothing", "nothing" } << QString();

    // The download is cut, and the server republishes the file before it is resumed: the device gets
    // the new file whole, never the old one's start joined to the new one's end, whether the server
    // names its files by ETag or by date. With the catalogue's digest of the old file, nothing.
    const auto republishedWhileCut = [this](const QByteArray& validator, bool digests) {
        return EngineScript([this, validator, digests](EngineFixture& f) {
            f.catalogue.setDigests(digests);
            f.catalogue.publish();
            const UpdateCatalogue::Entry* mp
                = f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"));
            const bool etag = validator == "ETag";
            Reply first = Reply::of(mp->served);
            first.headers.append(
                qMakePair(validator, QByteArray(etag ? "\"first\"" : "Mon, 07 Dec 2026 10:00:00 GMT")));
            first.ranges = true;
            first.closeAfter = 3000;
            f.server.setReply(mp->path, first, "GET");
            UpdateCatalogue::Entry fresh = *mp;
            fresh.version += QStringLiteral(" republished");
            fresh.image = fresh.served = UpdateCatalogue::image(6000, mp->version, 4243);
            extraImages.append(fresh);
            Reply republished = Reply::of(fresh.served);
            republished.headers.append(
                qMakePair(validator, QByteArray(etag ? "\"second\"" : "Tue, 08 Dec 2026 09:00:00 GMT")));
            republished.ranges = true;
            f.server.replaceAfter(mp->path, 1, republished);
            if (!f.startPlanned({ mcu }))
                return false;
            if (digests)
                return f.waitForMessage(QStringLiteral("Download Failure"));
            return f.waitForUpToDate() && f.server.requestCount(mp->path, "GET") == 2;
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
        << Devices { plus("PKA", { "MP" }) } << EngineScript([](EngineFixture& f) {
               QObject context;
               QObject::connect(
                   f.workflow()->state(WorkflowStates::awaitUpdateModeState), &QState::entered, &context, [] {
                       QFile file(ApplicationPaths::downloadDirectory() + QStringLiteral("/MCU Firmware"));
                       if (file.open(QIODevice::WriteOnly))
                           file.write(UpdateCatalogue::image(6000, QStringLiteral("3.2.7"), 777));
                   });
               return f.startPlanned({ mcu }) && f.waitForMessage(QStringLiteral("Update Failure"))
                   && f.waitForReady() && f.device().installCount() == 0
                   && f.history()
                   == QStringList { "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 install failed, no digest" };
           })
        << QStringList { "nothing" }
        << "Update Failure: The update could not be completed.\n\nThe MCU Firmware file changed after it was "
           "verified, so nothing was sent to the device.";

    // An updater check fails during the update, then the download does: the re-plan still rests on
    // the check that made the plan.
    QTest::newRow("updater check during update")
        << Devices { plus("PKA", { "DSP" }) } << EngineScript([](EngineFixture& f) {
               const QString path = f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("DSP"))->path;
               f.server.setReply(path, Reply::of(QByteArray(), 404, 1500), "GET");
               if (!f.startPlanned({ dsp }))
                   return false;
               f.server.setReply(UpdateCatalogue::manifestPath(), Reply::of(QByteArray(), 500));
               f.workflow()->checkAppUpdates();
               return f.waitForMessage(QStringLiteral("Download Failure"))
                   && waitUntil([&] { return f.planned() == QStringList { dsp }; }, 3000);
           })
        << QStringList { "nothing" } << QString();

    // MCU Alpha 6.3 has no USB boot loader, whatever is asked.
    SimulatedDeviceSettings oldMcu = plus("PKA", {});
    oldMcu.mcuWord = 0x0063;
    QTest::newRow("old mcu, list all components") << Devices { oldMcu } << EngineScript([](EngineFixture& f) {
        if (!listedAll(f, 1) || f.planned() != QStringList { dsp }
            || f.workflow()->planWarnings().filter(QStringLiteral("cannot be updated by USB")).isEmpty())
            return false;
        f.startUpdate();
        return f.waitForUpToDate();
    }) << QStringList { "DSP 3.1.2" } << QString();
    QTest::newRow("old mcu, install from file")
        << Devices { oldMcu } << EngineScript([this](EngineFixture& f) {
               return installFile(f, ComponentType::McuFirmware,
                          files.filePath(QStringLiteral("NewUpdate.bin")), mcuImage(f))
                   && waitUntil([&] {
                          return f.messages.join(QLatin1Char('\n'))
                              .contains(QLatin1String("cannot be updated by USB"));
                      })
                   && nothingStarted(f);
           })
        << QStringList { "nothing" } << "cannot be updated by USB";

    QTest::newRow("empty file refused")
        << Devices { plus("PKA", {}) } << EngineScript([this](EngineFixture& f) {
               return installFile(f, ComponentType::DspFirmware, files.filePath(QStringLiteral("Empty.ldr")),
                          QByteArray())
                   && f.waitForMessage(QStringLiteral("Invalid File")) && nothingStarted(f)
                   && f.workflow()->plan().isEmpty();
           })
        << QStringList { "nothing" } << "Invalid File: This file is empty";

    // Asked while the silent start-up check runs: that check answers aloud.
    QTest::newRow("updater check during start-up check") << Devices {} << EngineScript([](EngineFixture& f) {
        f.server.setReply(UpdateCatalogue::manifestPath(), Reply::of(f.catalogue.manifest(), 200, 2000));
        if (!waitUntil([&] { return f.workflow()->state(WorkflowStates::appCheckRunningState)->active(); }))
            return false;
        f.workflow()->checkAppUpdates();
        return waitUntil([&] { return !f.messages.isEmpty(); }, 5000);
    }) << QStringList {} << ": No updates available for Pelk Updater.";

    // Every file is fetched and checked before the first goes out: a served image one byte off its
    // catalogue digest, or a later file that cannot be fetched, leaves the device untouched.
    const auto refusedDownload = [](bool tamper) {
        return EngineScript([tamper](EngineFixture& f) {
            f.catalogue.setDigests(true);
            f.catalogue.addComponent(
                QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), 3000);
            f.catalogue.publish();
            const UpdateCatalogue::Entry* entry
                = f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("DSP"));
            QByteArray served = entry->served;
            served[served.size() / 2] = char(served.at(served.size() / 2) ^ 1);
            f.server.setReply(entry->path, tamper ? Reply::of(served) : Reply::of(QByteArray(), 404), "GET");
            QStringList texts;
            QObject context;
            QObject::connect(f.workflow(), &WorkflowNotifier::downloadTextChanged, &context,
                [&texts](const QString& text) { texts.append(text); });
            if (!listedAll(f, 3))
                return false;
            f.startUpdate();
            return f.waitForMessage(QStringLiteral("Download Failure"))
                && f.history()
                == QStringList { "Pelk+ PKA DSP Firmware Production 1.2>3.1.2 download failed, no digest" }
            && f.waitForReady()
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
        << Devices { plus("PKA", { "MP" }) } << EngineScript([](EngineFixture& f) {
               f.catalogue.addComponent(
                   QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.8"), 6000);
               f.catalogue.publish();
               if (!listedAll(f, 3))
                   return false;
               f.startUpdate();
               return f.waitForUpToDate()
                   && f.history()
                   == QStringList { "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 verified, digest of MP",
                          "Pelk+ PKA DSP Firmware Production 1.2>3.1.2 verified, digest of DSP",
                          "Pelk+ PKA MCU Firmware Production 2.7>3.2.8 verified, digest of MP" };
           })
        << QStringList { "MP 3.2.8, DSP 3.1.2" } << QString();

    // A key is trusted and the catalogue is not signed: nothing is planned, and the user is told why.
    QTest::newRow("unverified catalogue")
        << Devices { plus("PKA", { "MP" }) } << EngineScript([](EngineFixture& f) {
               CatalogueSignature::initialise();
               QSettings().setValue(QStringLiteral("update/trusted-keys"),
                   QString::fromLatin1(
                       CatalogueSignature::encodeKey(CatalogueSignature::generateKeyPair().publicKey)));
               const bool ready = f.waitForReady();
               f.check();
               const bool refused = ready && f.waitForMessage(QStringLiteral("Update Check Failure"))
                   && f.workflow()->plan().isEmpty();
               QSettings().remove(QStringLiteral("update/trusted-keys"));
               return refused;
           })
        << QStringList { "nothing" } << "Update Check Failure: The update catalogue could not be verified";
}

void tst_WorkflowSafety::scenario()
{
    QFETCH(Devices, devices);
    QFETCH(EngineScript, run);
    QFETCH(QStringList, received);
    QFETCH(QString, told);

    extraImages.clear();
    QFile::remove(UpdateHistory::defaultPath());
    EngineFixture f;
    begin(f, devices);

    const bool ran = run(f);
    const QString messages = f.messages.join(QLatin1Char('\n'));
    QVERIFY2(ran, qPrintable(messages));
    QStringList found;
    for (int index = 0; index < devices.size(); ++index)
        found.append(f.holdings(index, extraImages));
    QCOMPARE(found, received);
    if (!told.isEmpty())
        QVERIFY2(messages.contains(told), qPrintable(messages));
}

void tst_WorkflowSafety::passwordNeverWritten_data()
{
    QTest::addColumn<QString>("place");
    QTest::newRow("history") << "history";
    QTest::newRow("log") << "log";
    QTest::newRow("diagnostics report") << "diagnostics report";
}

// Catalogue URLs that carry a user name and password: after an update, the place named holds the
// URLs without them.
void tst_WorkflowSafety::passwordNeverWritten()
{
    QFETCH(QString, place);
    QFile::remove(UpdateHistory::defaultPath());
    EngineFixture f;
    f.catalogue.setUserInfo(QStringLiteral("publisher:hunter2"));
    begin(f, { plus("PKA", { "MP" }) });
    QVERIFY(f.catalogue.manifestUrl().toString().contains(QLatin1String("hunter2")));
    QVERIFY2(f.startPlanned({ mcu }) && f.waitForUpToDate(), qPrintable(f.messages.join(QLatin1Char('\n'))));

    QString text;
    if (place == QLatin1String("history")) {
        QFile file(UpdateHistory::defaultPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        text = QString::fromUtf8(file.readAll());
    } else if (place == QLatin1String("log")) {
        text = f.log.lines().join(QLatin1Char('\n'));
    } else {
        text = DiagnosticsReport::build(
            f.workflow()->diagnosticsDevices(), f.workflow()->history(), QString());
    }
    QVERIFY2(!text.contains(QLatin1String("hunter2")) && !text.contains(QLatin1String("publisher")),
        qPrintable(text));
    // The URLs are there, without their user-info part.
    const QString mp
        = f.server.url(f.catalogue.find(QStringLiteral("PELK+"), QStringLiteral("MP"))->path).toString();
    QVERIFY2(
        text.contains(place == QLatin1String("diagnostics report") ? f.server.url(QString()).toString() : mp),
        qPrintable(text));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowSafety, PelkPlus::EngineTest)

#include "tst_WorkflowSafety.moc"
