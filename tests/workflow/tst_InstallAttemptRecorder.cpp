#include "workflow/InstallAttemptRecorder.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// What a history line holds about an attempt, and that the open attempt is written once.
class tst_InstallAttemptRecorder : public QObject
{
    Q_OBJECT

private slots:
    void attemptFor_data();
    void attemptFor();
    void openAttemptIsRecordedOnce();
};

void tst_InstallAttemptRecorder::attemptFor_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("withDevice");
    QTest::addColumn<bool>("hashFile");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("hashed");

    QTest::newRow("download, device")
        << "https://user:pw@example.invalid/c/mcu.bin" << true << true << "https://example.invalid/c/mcu.bin"
        << "Pelk+" << true;
    QTest::newRow("local file, no device") << "" << false << true << "Update.bin"
                                           << "" << true;
    QTest::newRow("download failed: not hashed")
        << "https://example.invalid/x" << true << false << "https://example.invalid/x"
        << "Pelk+" << false;
}

void tst_InstallAttemptRecorder::attemptFor()
{
    QFETCH(QString, url);
    QFETCH(bool, withDevice);
    QFETCH(bool, hashFile);
    QFETCH(QString, source);
    QFETCH(QString, model);
    QFETCH(bool, hashed);

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Update.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();

    Component component;
    component.type = ComponentType::McuFirmware;
    component.version = QStringLiteral("3.1.3");
    component.url = QUrl(url);
    component.localPath = file.fileName();
    DeviceInfo info;
    info.mcuVersion = FirmwareVersion { Production, 3, 1 };
    const std::optional<Connection> device = withDevice
        ? std::optional<Connection>(Connection(QStringLiteral("p"), Plus, QStringLiteral("PK7")))
        : std::nullopt;

    const UpdateHistoryEntry entry = InstallAttemptRecorder::attemptFor(component, device, info, hashFile);
    QCOMPARE(entry.source, source);
    QCOMPARE(entry.model, model);
    QCOMPARE(entry.serial, withDevice ? QStringLiteral("PK7") : QString());
    QCOMPARE(entry.component, QStringLiteral("MCU Firmware"));
    QCOMPARE(entry.versionSent, QStringLiteral("3.1.3"));
    QVERIFY(!entry.versionBefore.isEmpty());
    // SHA-256 of "abc".
    QCOMPARE(entry.sha256,
        hashed ? QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")
               : QString());
}

void tst_InstallAttemptRecorder::openAttemptIsRecordedOnce()
{
    QTemporaryDir dir;
    InstallAttemptRecorder recorder;
    recorder.history() = UpdateHistory(dir.filePath(QStringLiteral("history.jsonl")));
    recorder.close(UpdateHistoryEntry::DeviceLost);
    QCOMPARE(recorder.history().entries().size(), 0);

    Component dsp;
    dsp.type = ComponentType::DspFirmware;
    dsp.localPath = dir.filePath(QStringLiteral("a.ldr"));
    recorder.open(InstallAttemptRecorder::attemptFor(dsp, std::nullopt, DeviceInfo(), false));
    QVERIFY(recorder.openAttempt());
    recorder.close(UpdateHistoryEntry::Verified);
    recorder.close(UpdateHistoryEntry::DeviceLost);
    QVERIFY(!recorder.openAttempt());
    const QList<UpdateHistoryEntry> entries = recorder.history().entries();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().outcome, UpdateHistoryEntry::Verified);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_InstallAttemptRecorder, PelkPlus::ConsoleTest)
#include "tst_InstallAttemptRecorder.moc"
