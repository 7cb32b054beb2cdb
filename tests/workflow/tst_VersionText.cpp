// One form of a version wherever a person reads it.
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "workflow/VersionText.h"
#include "support/TestMain.h"

#include <QtTest>

using namespace PelkPlus;

class tst_VersionText : public QObject
{
    Q_OBJECT

private slots:
    void catalogueForms_data();
    void catalogueForms();
    void deviceForms_data();
    void deviceForms();
    void recorded_data();
    void recorded();
};

void tst_VersionText::catalogueForms_data()
{
    QTest::addColumn<ComponentType>("type");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("displayed");
    QTest::addColumn<QString>("withCatalogue");

    QTest::newRow("MCU firmware") << ComponentType::McuFirmware << "3.2.7"
                                  << "Production 2.7"
                                  << "Production 2.7 (3.2.7)";
    QTest::newRow("DSP beta") << ComponentType::DspFirmware << "1.0.2"
                              << "Beta 0.2"
                              << "Beta 0.2 (1.0.2)";
    QTest::newRow("already shown") << ComponentType::McuFirmware << "Production 1.2"
                                   << "Production 1.2"
                                   << "Production 1.2";
    QTest::newRow("not a firmware version") << ComponentType::DspFirmware << "3.2"
                                            << "3.2"
                                            << "3.2";
    QTest::newRow("Styles in hexadecimal") << ComponentType::Styles << "0x1A2B"
                                           << "0x1A2B"
                                           << "0x1A2B";
    QTest::newRow("Styles in decimal") << ComponentType::Styles << "6699"
                                       << "0x1A2B"
                                       << "0x1A2B (6699)";
    QTest::newRow("Styles too large") << ComponentType::Styles << "0x10000"
                                      << "0x10000"
                                      << "0x10000";
    QTest::newRow("Ensemble with leading zeros") << ComponentType::EnsembleAudio << "0x00020014"
                                                 << "0x20014"
                                                 << "0x20014 (0x00020014)";
    QTest::newRow("nothing") << ComponentType::EnsembleAudio << ""
                             << ""
                             << "";
}

void tst_VersionText::catalogueForms()
{
    QFETCH(ComponentType, type);
    QFETCH(QString, catalogue);
    QFETCH(QString, displayed);
    QFETCH(QString, withCatalogue);
    QCOMPARE(VersionText::displayed(type, catalogue), displayed);
    QCOMPARE(VersionText::withCatalogue(type, catalogue), withCatalogue);
}

void tst_VersionText::deviceForms_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<ComponentType>("type");
    QTest::addColumn<QString>("shown");

    QTest::newRow("MCU") << int(Plus) << ComponentType::McuFirmware << "Production 1.4";
    QTest::newRow("DSP") << int(Plus) << ComponentType::DspFirmware << "Beta 2.0";
    QTest::newRow("Styles of a Pelk+") << int(Plus) << ComponentType::Styles << "0x1A";
    QTest::newRow("no Styles on a Pelk") << int(Base) << ComponentType::Styles << "";
    QTest::newRow("Ensemble of a Pelk") << int(Base) << ComponentType::EnsembleAudio << "0x2B3C";
}

void tst_VersionText::deviceForms()
{
    QFETCH(int, model);
    QFETCH(ComponentType, type);
    QFETCH(QString, shown);
    DeviceInfo info;
    info.model = model;
    info.mcuVersion = parseFirmwareVersion(QStringLiteral("3.1.4"));
    info.dspVersion = parseFirmwareVersion(QStringLiteral("1.2.0"));
    info.stylesVersion = 26;
    info.ensembleVersion = 11068;
    QCOMPARE(VersionText::ofDevice(info, type), shown);
    ComponentType named = ComponentType::MacApplication;
    QVERIFY(VersionText::typeFromName(componentTypeName(type), &named));
    QCOMPARE(named, type);
}

void tst_VersionText::recorded_data()
{
    QTest::addColumn<QString>("component");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("sent");

    QTest::newRow("MCU") << "MCU Firmware"
                         << "3.2.7"
                         << "Production 2.7"
                         << "Production 2.7 (3.2.7)";
    QTest::newRow("before already shown") << "DSP Firmware"
                                          << "Beta 0.2"
                                          << "Beta 0.2"
                                          << "Beta 0.2";
    QTest::newRow("Ensemble") << "Ensemble Audio"
                              << "0x00020014"
                              << "0x20014"
                              << "0x20014 (0x00020014)";
    QTest::newRow("no known component") << "Pelk Updater"
                                        << "2.1.0"
                                        << "2.1.0"
                                        << "2.1.0";
}

void tst_VersionText::recorded()
{
    QFETCH(QString, component);
    QFETCH(QString, version);
    QFETCH(QString, before);
    QFETCH(QString, sent);
    QCOMPARE(VersionText::recordedBefore(component, version), before);
    QCOMPARE(VersionText::recordedSent(component, version), sent);
}

PELK_TEST_MAIN(tst_VersionText, PelkPlus::ConsoleTest)
#include "tst_VersionText.moc"
