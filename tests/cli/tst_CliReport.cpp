// The last line of an update that ended well, for each mix of verified components and files
// whose version is not known.
#include "cli/CliReport.h"
#include "support/TestMain.h"

#include <QtTest>

using namespace PelkPlus;

class tst_CliReport : public QObject
{
    Q_OBJECT

private slots:
    void completionText_data();
    void completionText();
};

using Installed = QList<InstallSummary::Installed>;
Q_DECLARE_METATYPE(Installed)

void tst_CliReport::completionText_data()
{
    QTest::addColumn<Installed>("installed");
    QTest::addColumn<QString>("text");

    const InstallSummary::Installed mcu { ComponentType::McuFirmware, "3.1.0", "3.1.2", true, {} };
    const InstallSummary::Installed dsp { ComponentType::DspFirmware, "3.0.0", "3.1.0", true, {} };
    const InstallSummary::Installed localStyles { ComponentType::Styles, "0x11", QString(), false, {} };
    const InstallSummary::Installed localMcu { ComponentType::McuFirmware, "3.1.0", QString(), false, {} };

    QTest::newRow("one, verified") << Installed { mcu }
                                   << "Update complete: 1 component installed and verified.";
    QTest::newRow("one of two without a version")
        << Installed { dsp, localMcu }
        << "Update complete: 2 components installed, 1 verified (no version known for: MCU Firmware).";
    // A file of unknown version after which the device reports what it had: said as it is.
    const InstallSummary::Installed keptMcu { ComponentType::McuFirmware, "Production 1.2", QString(), false,
        "Production 1.2" };
    QTest::newRow("a file the device still reports its old version after")
        << Installed { keptMcu }
        << "Update complete: 1 component installed, 0 verified (no version known for: MCU Firmware). The "
           "device still reports the version it had before: MCU Firmware Production 1.2.";
    QTest::newRow("those without a version, in the order sent") << Installed {
        localStyles, mcu, localMcu
    } << "Update complete: 3 components installed, 1 verified (no version known for: Styles, MCU Firmware).";
}

void tst_CliReport::completionText()
{
    QFETCH(Installed, installed);
    QFETCH(QString, text);
    QCOMPARE(InstallSummary::completionText(installed), text);
}

PELK_TEST_MAIN(tst_CliReport, PelkPlus::ConsoleTest)
#include "tst_CliReport.moc"
