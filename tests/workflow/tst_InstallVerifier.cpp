#include "device/DeviceModel.h"
#include "device/HeaderRecord.h"
#include "workflow/InstallVerifier.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// Whether a device back from its reboot reports the version it was sent, read from the header
// reply exactly as the link decodes it.
class tst_InstallVerifier : public QObject
{
    Q_OBJECT

private slots:
    void verify_data();
    void verify();
};

void tst_InstallVerifier::verify_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("sent");
    // Bytes 10 to 23 of the header reply: Ensemble Audio (10-12, 14), Styles (15-16), DSP (18-19),
    // MCU (20-21), tag.
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("reported");
    // The same bytes of the header before the install; empty for a device that held nothing.
    QTest::addColumn<QByteArray>("before");

    const int mcu = int(ComponentType::McuFirmware), dsp = int(ComponentType::DspFirmware);
    const int styles = int(ComponentType::Styles), ensemble = int(ComponentType::EnsembleAudio);
    QTest::newRow("plus mcu taken") << int(Plus) << mcu << "3.2.7"
                                    << QByteArray("0000010000000100100327030000") << "verified"
                                    << "Production 2.7" << QByteArray();
    QTest::newRow("plus mcu kept old")
        << int(Plus) << mcu << "3.2.7" << QByteArray("0000010000000100100312030000") << "not applied"
        << "Production 1.2" << QByteArray();
    // A Pelk reads both low release bits as set, whatever it reports and whatever was sent.
    QTest::newRow("pelk mcu, release type forced")
        << int(Base) << mcu << "1.2.7" << QByteArray("0000010000000100100327000000") << "verified"
        << "Production 2.7" << QByteArray();
    QTest::newRow("pelk dsp, release type forced")
        << int(Base) << dsp << "0.1.2" << QByteArray("0000010000000100120012030000") << "verified"
        << "Production 1.2" << QByteArray();
    QTest::newRow("pelk dsp kept old")
        << int(Base) << dsp << "3.1.2" << QByteArray("0000010000000100100312030000") << "not applied"
        << "Production 1.0" << QByteArray();
    // MCU Alpha 6.4 packs the DSP version into byte 18: release bits 7 and 3, major 6-4, minor 2-0.
    QTest::newRow("old-mcu plus dsp taken")
        << int(Plus) << dsp << "1.2.5" << QByteArray("00000100000001002DEE64000000") << "verified"
        << "Beta 2.5" << QByteArray();
    QTest::newRow("old-mcu plus dsp, packing drops bits")
        << int(Plus) << dsp << "3.9.2" << QByteArray("00000100000001009AEE64000000") << "verified"
        << "Production 1.2" << QByteArray();
    QTest::newRow("old-mcu plus dsp kept old")
        << int(Plus) << dsp << "1.2.5" << QByteArray("00000100000001002CEE64000000") << "not applied"
        << "Beta 2.4" << QByteArray();
    QTest::newRow("newer-mcu plus dsp, both bytes")
        << int(Plus) << dsp << "1.2.5" << QByteArray("0000010000000100250165000000") << "verified"
        << "Beta 2.5" << QByteArray();
    QTest::newRow("styles taken") << int(Plus) << styles << "0x1A2B"
                                  << QByteArray("00000100002B1A00100312030000") << "verified"
                                  << "0x1A2B" << QByteArray();
    QTest::newRow("styles kept old") << int(Plus) << styles << "0x1A2B"
                                     << QByteArray("0000010000000100100312030000") << "not applied"
                                     << "0x100" << QByteArray();
    QTest::newRow("ensemble taken, byte 13 skipped")
        << int(Base) << ensemble << "0x00020014" << QByteArray("140002FF00000100100312030000") << "verified"
        << "0x20014" << QByteArray();
    QTest::newRow("ensemble kept old") << int(Plus) << ensemble << "0x00020014"
                                       << QByteArray("0000010000000100100312030000") << "not applied"
                                       << "0x10000" << QByteArray();
    // Packing drops bits: a device that kept its old DSP firmware reads as the version sent.
    QTest::newRow("old-mcu plus dsp, packing drops bits, kept old")
        << int(Plus) << dsp << "3.9.2" << QByteArray("00000100000001009AEE64000000") << "not checked"
        << "Production 1.2" << QByteArray("00000100000001009AEE64000000");
    QTest::newRow("old-mcu plus dsp, packing drops bits, changed")
        << int(Plus) << dsp << "3.9.2" << QByteArray("00000100000001009AEE64000000") << "verified"
        << "Production 1.2" << QByteArray("00000100000001002DEE64000000");
    // A Pelk forces the release bits: Beta 2.7 kept as Production 2.7 reads the same.
    QTest::newRow("pelk mcu, release type forced, kept old")
        << int(Base) << mcu << "1.2.7" << QByteArray("0000010000000100100327000000") << "not checked"
        << "Production 2.7" << QByteArray("0000010000000100100327000000");
    // Nothing lost: the same version again reads as the version sent.
    QTest::newRow("plus mcu, same version again")
        << int(Plus) << mcu << "3.2.7" << QByteArray("0000010000000100100327030000") << "verified"
        << "Production 2.7" << QByteArray("0000010000000100100327030000");
    // A file from the computer carries no version to compare.
    QTest::newRow("local file") << int(Plus) << mcu << "" << QByteArray("0000010000000100100327030000")
                                << "not checked"
                                << "" << QByteArray();
}

void tst_InstallVerifier::verify()
{
    QFETCH(int, model);
    QFETCH(int, type);
    QFETCH(QString, sent);
    QFETCH(QByteArray, reply);
    QFETCH(QString, verdict);
    QFETCH(QString, reported);
    QFETCH(QByteArray, before);

    auto device = [model](const QByteArray& bytes) {
        QByteArray report(64, '\0');
        report.replace(10, bytes.size() / 2, QByteArray::fromHex(bytes));
        return DeviceInfo::fromHeader(
            model, decodeHeader(reinterpret_cast<const unsigned char*>(report.constData()), model));
    };
    const DeviceInfo after = device(reply);

    const Verification check = InstallVerifier::verify(device(before), after, ComponentType(type), sent);
    const char* const names[] = { "verified", "not applied", "not checked" };
    QCOMPARE(QString::fromLatin1(names[int(check.outcome)]), verdict);
    QCOMPARE(check.reported, reported);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_InstallVerifier, PelkPlus::ConsoleTest)

#include "tst_InstallVerifier.moc"
