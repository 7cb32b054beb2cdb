#include "workflow/LocalInstallRules.h"
#include "device/DeviceModel.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// The rules a chosen file must pass: its name's ending for the type, its size, and the connected
// device's boot loader for MCU firmware.
class tst_LocalInstallRules : public QObject
{
    Q_OBJECT

private slots:
    void refusal_data();
    void refusal();
    void catalogueRefusal_data();
    void catalogueRefusal();
    void fileFilter();
};

void tst_LocalInstallRules::refusal_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("size");
    // -1: no device connected; otherwise the device's MCU minor version (Alpha 6.x; 6.4 has the
    // USB boot loader).
    QTest::addColumn<int>("mcuMinor");
    QTest::addColumn<QString>("title");

    const int mcu = int(ComponentType::McuFirmware);
    QTest::newRow("mcu firmware") << mcu << "/tmp/NewUpdate.bin" << qint64(10) << 4 << "";
    QTest::newRow("mcu, no device") << mcu << "/tmp/Update.bin" << qint64(10) << -1 << "";
    QTest::newRow("mcu, name differs in case")
        << mcu << "/tmp/update.bin" << qint64(10) << -1 << "Invalid File";
    QTest::newRow("mcu, other name") << mcu << "/tmp/Update.ldr" << qint64(10) << -1 << "Invalid File";
    QTest::newRow("mcu, empty") << mcu << "/tmp/Update.bin" << qint64(0) << 4 << "Invalid File";
    QTest::newRow("mcu, missing file") << mcu << "/tmp/Update.bin" << qint64(-1) << 4 << "Invalid File";
    QTest::newRow("mcu, all of its flash") << mcu << "/tmp/Update.bin" << qint64(1 << 20) << 4 << "";
    QTest::newRow("mcu, larger than its flash")
        << mcu << "/tmp/Update.bin" << qint64((1 << 20) + 1) << 4 << "Invalid File";
    QTest::newRow("mcu, old boot loader")
        << mcu << "/tmp/Update.bin" << qint64(10) << 3 << "Update Not Possible";
    QTest::newRow("dsp on an old mcu")
        << int(ComponentType::DspFirmware) << "/tmp/a.ldr" << qint64(1) << 3 << "";
    QTest::newRow("dsp, wrong ending")
        << int(ComponentType::DspFirmware) << "/tmp/a.ldr.bak" << qint64(1) << 3 << "Invalid File";
    QTest::newRow("styles") << int(ComponentType::Styles) << "/tmp/MyStyleData.bin" << qint64(1) << 4 << "";
    QTest::newRow("styles, firmware name")
        << int(ComponentType::Styles) << "/tmp/Update.bin" << qint64(1) << 4 << "Invalid File";
    QTest::newRow("ensemble") << int(ComponentType::EnsembleAudio) << "/tmp/x.flac" << qint64(1) << 4 << "";
    QTest::newRow("ensemble, wav") << int(ComponentType::EnsembleAudio) << "/tmp/x.wav" << qint64(1) << 4
                                   << "Invalid File";
}

void tst_LocalInstallRules::refusal()
{
    QFETCH(int, type);
    QFETCH(QString, path);
    QFETCH(qint64, size);
    QFETCH(int, mcuMinor);
    QFETCH(QString, title);

    DeviceInfo device;
    device.mcuVersion = FirmwareVersion { Alpha, 6, mcuMinor };
    const std::optional<LocalInstallRefusal> refused
        = LocalInstallRules::refusal(ComponentType(type), path, size, mcuMinor < 0 ? nullptr : &device);
    QCOMPARE(refused ? refused->title : QString(), title);
    if (refused)
        QVERIFY(!refused->text.isEmpty());
}

void tst_LocalInstallRules::catalogueRefusal_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<char>("file");    // the byte the file's digest is made of
    QTest::addColumn<int>("model");    // -1: no device connected
    QTest::addColumn<QString>("text"); // empty: not refused

    const int mcu = int(ComponentType::McuFirmware);
    QTest::newRow("the other model's firmware")
        << mcu << 'a' << int(Plus) << "This file is the MCU Firmware 3.2.8 of the Pelk, not of the Pelk+.";
    QTest::newRow("another component's file")
        << int(ComponentType::Styles) << 'c' << int(Plus)
        << "This file is the DSP Firmware 3.1.2 of the Pelk+, not Styles.";
    QTest::newRow("the device's own firmware") << mcu << 'b' << int(Plus) << "";
    QTest::newRow("listed for both models") << int(ComponentType::Styles) << 'd' << int(Base) << "";
    QTest::newRow("unknown to the catalogue") << mcu << 'z' << int(Plus) << "";
    QTest::newRow("the other model's, no device") << mcu << 'a' << -1 << "";
}

void tst_LocalInstallRules::catalogueRefusal()
{
    QFETCH(int, type);
    QFETCH(char, file);
    QFETCH(int, model);
    QFETCH(QString, text);

    const auto entry = [](ComponentType type, const char* version, char digest) {
        Component component;
        component.type = type;
        component.version = QLatin1String(version);
        component.sha256 = QByteArray(32, digest);
        return component;
    };
    ManifestData catalogue;
    catalogue[ManifestProduct::Base]
        = { entry(ComponentType::McuFirmware, "3.2.8", 'a'), entry(ComponentType::Styles, "1A2B", 'd') };
    catalogue[ManifestProduct::Plus] = { entry(ComponentType::McuFirmware, "3.2.9", 'b'),
        entry(ComponentType::DspFirmware, "3.1.2", 'c'), entry(ComponentType::Styles, "1A2B", 'd') };
    DeviceInfo device;
    device.model = model;
    const std::optional<LocalInstallRefusal> refused = LocalInstallRules::catalogueRefusal(
        ComponentType(type), QByteArray(32, file), catalogue, model < 0 ? nullptr : &device);
    QCOMPARE(refused ? refused->text : QString(), text);
}

void tst_LocalInstallRules::fileFilter()
{
    QCOMPARE(
        LocalInstallRules::fileFilter(ComponentType::DspFirmware), QStringLiteral("DSP Firmware (*.ldr)"));
    QCOMPARE(LocalInstallRules::fileFilter(ComponentType::McuFirmware),
        QStringLiteral("MCU Firmware (*Update.bin)"));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_LocalInstallRules, PelkPlus::ConsoleTest)
#include "tst_LocalInstallRules.moc"
