#include "device/DeviceModel.h"
#include "workflow/UpdatePlanner.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// The planning rules as pure functions: a device's versions and the manifest's components in, the
// plan and its warnings out.
class tst_UpdatePlanner : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void productFor();
};

namespace {

// "MCU|3.1.3": a component of the type with the manifest's version text.
QList<Component> components(const QStringList& rows)
{
    const QHash<QString, ComponentType> types = { { "MCU", ComponentType::McuFirmware },
        { "DSP", ComponentType::DspFirmware }, { "Styles", ComponentType::Styles },
        { "Ensemble", ComponentType::EnsembleAudio }, { "Win", ComponentType::WindowsApplication } };
    QList<Component> result;
    for (const QString& row : rows) {
        Component component;
        component.type = types.value(row.section(QLatin1Char('|'), 0, 0));
        component.version = row.section(QLatin1Char('|'), 1);
        component.size = 2048;
        result.append(component);
    }
    return result;
}

QStringList describe(const QList<Component>& planned)
{
    QStringList lines;
    for (const Component& component : planned)
        lines.append(UpdatePlanner::describe(component));
    return lines;
}

} // namespace

void tst_UpdatePlanner::plan_data()
{
    QTest::addColumn<QString>("mcu");
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<bool>("forceAll");
    QTest::addColumn<QStringList>("planned");
    QTest::addColumn<int>("warnings");

    // The device: a Pelk+ (a Pelk where the MCU version begins with "Pelk "), MCU as given, DSP
    // 3.1.0, Styles 0x12, Ensemble 0x10203.
    const QString mcuLine = QStringLiteral("MCU Firmware: Version %1, Size 2 KB");
    QTest::newRow("mcu newer") << "3.1.2" << QStringList { "MCU|3.1.3" } << false
                               << QStringList { mcuLine.arg("Production 1.3") } << 0;
    QTest::newRow("mcu equal") << "3.1.2" << QStringList { "MCU|3.1.2" } << false << QStringList() << 0;
    QTest::newRow("mcu older") << "3.1.2" << QStringList { "MCU|3.0.9" } << false << QStringList() << 0;
    // The device would keep 3.16.0 as 3.0.0: never offered as newer than 3.15.0.
    QTest::newRow("mcu major above 15")
        << "3.15.0" << QStringList { "MCU|3.16.0" } << false << QStringList() << 0;
    QTest::newRow("dsp minor above 15")
        << "3.1.2" << QStringList { "DSP|3.1.16" } << false << QStringList() << 0;
    QTest::newRow("mcu below 0.6.4 warns")
        << "0.6.3" << QStringList { "MCU|3.1.3" } << false << QStringList() << 1;
    QTest::newRow("mcu at 0.6.4 planned")
        << "0.6.4" << QStringList { "MCU|0.6.5" } << false << QStringList { mcuLine.arg("Alpha 6.5") } << 0;
    QTest::newRow("mcu below 0.6.4, nothing newer")
        << "0.6.3" << QStringList { "MCU|0.6.3" } << false << QStringList() << 0;
    QTest::newRow("dsp newer") << "3.1.2" << QStringList { "DSP|3.1.1" } << false
                               << QStringList { "DSP Firmware: Version Production 1.1, Size 2 KB" } << 0;
    QTest::newRow("dsp older") << "3.1.2" << QStringList { "DSP|2.9.9" } << false << QStringList() << 0;
    QTest::newRow("styles equal") << "3.1.2" << QStringList { "Styles|18" } << false << QStringList() << 0;
    QTest::newRow("styles lower differs") << "3.1.2" << QStringList { "Styles|0x11" } << false
                                          << QStringList { "Styles: Version 0x11, Size 2 KB" } << 0;
    QTest::newRow("ensemble equal") << "3.1.2" << QStringList { "Ensemble|0x10203" } << false << QStringList()
                                    << 0;
    QTest::newRow("ensemble lower differs")
        << "3.1.2" << QStringList { "Ensemble|0x10202" } << false
        << QStringList { "Ensemble Audio: Version 0x10202, Size 2 KB" } << 0;
    QTest::newRow("updater package ignored")
        << "3.1.2" << QStringList { "Win|9.9.9" } << false << QStringList() << 0;
    QTest::newRow("manifest order kept")
        << "3.1.2" << QStringList { "Ensemble|0x1", "DSP|3.2.0", "Styles|0x13", "MCU|3.2.0" } << false
        << QStringList { "Ensemble Audio: Version 0x1, Size 2 KB",
               "DSP Firmware: Version Production 2.0, Size 2 KB", "Styles: Version 0x13, Size 2 KB",
               mcuLine.arg("Production 2.0") }
        << 0;
    QTest::newRow("force all takes equal and older")
        << "0.6.4" << QStringList { "Styles|0x12", "MCU|0.1.0" } << true
        << QStringList { "Styles: Version 0x12, Size 2 KB", mcuLine.arg("Alpha 1.0") } << 0;
    QTest::newRow("force all keeps the old mcu rule")
        << "0.6.3" << QStringList { "Styles|0x12", "MCU|3.1.0" } << true
        << QStringList { "Styles: Version 0x12, Size 2 KB" } << 1;
    QTest::newRow("pelk never planned styles")
        << "Pelk 3.1.2" << QStringList { "Styles|0x13", "DSP|3.2.0" } << false
        << QStringList { "DSP Firmware: Version Production 2.0, Size 2 KB" } << 0;
    QTest::newRow("pelk never planned styles, forced")
        << "Pelk 3.1.2" << QStringList { "Styles|0x13" } << true << QStringList() << 0;
}

void tst_UpdatePlanner::plan()
{
    QFETCH(QString, mcu);
    QFETCH(QStringList, offered);
    QFETCH(bool, forceAll);
    QFETCH(QStringList, planned);
    QFETCH(int, warnings);

    DeviceInfo device;
    device.model = mcu.startsWith(QLatin1String("Pelk ")) ? Base : Plus;
    device.mcuVersion = parseFirmwareVersion(mcu.remove(QStringLiteral("Pelk ")));
    device.dspVersion = parseFirmwareVersion(QStringLiteral("3.1.0"));
    device.stylesVersion = 0x12;
    device.ensembleVersion = 0x10203;

    const UpdatePlan plan = UpdatePlanner::plan(device, components(offered), forceAll);
    QCOMPARE(describe(plan.components), planned);
    QCOMPARE(plan.warnings.size(), warnings);
    for (const QString& warning : plan.warnings)
        QVERIFY(warning.startsWith(QStringLiteral("An MCU update is available but")));
}

void tst_UpdatePlanner::productFor()
{
    DeviceInfo device;
    device.model = Base;
    QCOMPARE(UpdatePlanner::productFor(device), ManifestProduct::Base);
    device.model = Plus;
    QCOMPARE(UpdatePlanner::productFor(device), ManifestProduct::Plus);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdatePlanner, PelkPlus::ConsoleTest)

#include "tst_UpdatePlanner.moc"
