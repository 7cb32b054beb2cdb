// One form of a version wherever a person reads it.
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "workflow/UpdatePlanner.h"
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
    // Planning reads what is not three numbers as 0.0.0, and the list shows what it compared.
    QTest::newRow("display form is no catalogue form") << ComponentType::McuFirmware << "Production 1.2"
                                                       << "Alpha 0.0"
                                                       << "Alpha 0.0 (Production 1.2)";
    QTest::newRow("not a firmware version") << ComponentType::DspFirmware << "3.2"
                                            << "Alpha 0.0"
                                            << "Alpha 0.0 (3.2)";
    QTest::newRow("firmware part unreadable") << ComponentType::McuFirmware << "3.x.2"
                                              << "Production 0.2"
                                              << "Production 0.2 (3.x.2)";
    QTest::newRow("Styles in hexadecimal") << ComponentType::Styles << "0x1A2B"
                                           << "0x1A2B"
                                           << "0x1A2B";
    QTest::newRow("Styles in decimal") << ComponentType::Styles << "6699"
                                       << "0x1A2B"
                                       << "0x1A2B (6699)";
    QTest::newRow("Styles keeps its low 16 bits") << ComponentType::Styles << "0x10012"
                                                  << "0x12"
                                                  << "0x12 (0x10012)";
    QTest::newRow("Styles unreadable") << ComponentType::Styles << "zz"
                                       << "0x0"
                                       << "0x0 (zz)";
    QTest::newRow("Ensemble with leading zeros") << ComponentType::EnsembleAudio << "0x00020014"
                                                 << "0x20014"
                                                 << "0x20014 (0x00020014)";
    QTest::newRow("Ensemble in octal") << ComponentType::EnsembleAudio << "017"
                                       << "0xF"
                                       << "0xF (017)";
    QTest::newRow("nothing") << ComponentType::EnsembleAudio << ""
                             << "0x0"
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
    // The plan's line and the history's record of the component read alike.
    Component component;
    component.type = type;
    component.version = catalogue;
    component.size = 1024;
    QCOMPARE(UpdatePlanner::describe(component),
        QStringLiteral("%1: Version %2, Size 1 KB").arg(componentTypeName(type), displayed));
    QCOMPARE(VersionText::recordedSent(componentTypeName(type), catalogue), withCatalogue);
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
    // What was sent is always the catalogue's text, read as the plan read it.
    QTest::newRow("before already shown") << "DSP Firmware"
                                          << "Beta 0.2"
                                          << "Beta 0.2"
                                          << "Alpha 0.0 (Beta 0.2)";
    QTest::newRow("Ensemble") << "Ensemble Audio"
                              << "0x00020014"
                              << "0x20014"
                              << "0x20014 (0x00020014)";
    QTest::newRow("Styles unreadable") << "Styles"
                                       << "zz"
                                       << "0x0"
                                       << "0x0 (zz)";
    QTest::newRow("no Styles on a Pelk") << "Styles"
                                         << ""
                                         << ""
                                         << "";
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
