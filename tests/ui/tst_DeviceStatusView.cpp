#include "ui/DeviceStatusView.h"

#include "device/DeviceInfo.h"
#include "device/DeviceModel.h"
#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

namespace PelkPlus {

class TestDeviceStatusView : public QObject
{
    Q_OBJECT

private slots:
    void typeName();
    void textProperty();
    void deviceDescription_data();
    void deviceDescription();
    void descriptionReplacesStateText();
};

void TestDeviceStatusView::typeName()
{
    DeviceStatusView view;
    QCOMPARE(view.metaObject()->className(), "PelkPlus::DeviceStatusView");
}

void TestDeviceStatusView::textProperty()
{
    DeviceStatusView view;
    QVERIFY(view.setProperty("text", QStringLiteral("Waiting...")));
    QCOMPARE(view.property("text").toString(), QStringLiteral("Waiting..."));
    QCOMPARE(view.text(), QStringLiteral("Waiting..."));

    // The text is the label's, so that it is what the user sees.
    const auto labels = view.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first()->text(), QStringLiteral("Waiting..."));
}

void TestDeviceStatusView::deviceDescription_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("mcuType");
    QTest::addColumn<int>("mcuMajor");
    QTest::addColumn<int>("mcuMinor");
    QTest::addColumn<int>("dspType");
    QTest::addColumn<int>("dspMajor");
    QTest::addColumn<int>("dspMinor");
    QTest::addColumn<int>("styles");
    QTest::addColumn<int>("ensemble");
    QTest::addColumn<QString>("expected");
    // What a screen reader reads: the model and its state, then the versions as one sentence.
    QTest::addColumn<QString>("spokenName");
    QTest::addColumn<QString>("spokenVersions");

    QTest::newRow("plus") << int(Plus) << int(Production) << 1 << 4 << int(Beta) << 2 << 0 << 26 << 11068
                          << QStringLiteral("Pelk+ Connected\n\nMCU:   Production 1.4\nDSP:   Beta 2.0\n"
                                            "Styles:   0x1A\nEnsemble:   0x2B3C\n")
                          << "Pelk+ Connected"
                          << "MCU: Production 1.4, DSP: Beta 2.0, Styles: 0x1A, Ensemble: 0x2B3C";
    QTest::newRow("base has no styles line")
        << int(Base) << int(Production) << 1 << 4 << int(Beta) << 2 << 0 << 26 << 11068
        << QStringLiteral("Pelk Connected\n\nMCU:   Production 1.4\nDSP:   Beta 2.0\nEnsemble:   0x2B3C\n")
        << "Pelk Connected"
        << "MCU: Production 1.4, DSP: Beta 2.0, Ensemble: 0x2B3C";
    QTest::newRow("other release types and zero versions")
        << int(Plus) << int(Alpha) << 0 << 0 << int(PreProduction) << 15 << 15 << 0 << 0
        << QStringLiteral("Pelk+ Connected\n\nMCU:   Alpha 0.0\nDSP:   Pre-production 15.15\n"
                          "Styles:   0x0\nEnsemble:   0x0\n")
        << "Pelk+ Connected"
        << "MCU: Alpha 0.0, DSP: Pre-production 15.15, Styles: 0x0, Ensemble: 0x0";
    QTest::newRow("unknown model has no name and no styles line")
        << 7 << int(Production) << 1 << 0 << int(Production) << 1 << 0 << 1 << 0xABCDEF
        << QStringLiteral(
               " Connected\n\nMCU:   Production 1.0\nDSP:   Production 1.0\nEnsemble:   0xABCDEF\n")
        << "Connected"
        << "MCU: Production 1.0, DSP: Production 1.0, Ensemble: 0xABCDEF";
}

void TestDeviceStatusView::deviceDescription()
{
    QFETCH(int, model);
    QFETCH(int, mcuType);
    QFETCH(int, mcuMajor);
    QFETCH(int, mcuMinor);
    QFETCH(int, dspType);
    QFETCH(int, dspMajor);
    QFETCH(int, dspMinor);
    QFETCH(int, styles);
    QFETCH(int, ensemble);
    QFETCH(QString, expected);
    QFETCH(QString, spokenName);
    QFETCH(QString, spokenVersions);

    DeviceInfo info;
    info.model = model;
    info.mcuVersion = { mcuType, mcuMajor, mcuMinor };
    info.dspVersion = { dspType, dspMajor, dspMinor };
    info.stylesVersion = quint16(styles);
    info.ensembleVersion = quint32(ensemble);

    DeviceStatusView view;
    view.setDeviceInfo(info);
    QCOMPARE(view.property("text").toString(), expected);
    QCOMPARE(view.accessibleName(), spokenName);
    QCOMPARE(view.accessibleDescription(), spokenVersions);
    // A state text after it leaves no versions behind.
    view.setText(QStringLiteral("Waiting..."));
    QCOMPARE(view.accessibleName(), QStringLiteral("Waiting..."));
    QVERIFY(view.accessibleDescription().isEmpty());
}

void TestDeviceStatusView::descriptionReplacesStateText()
{
    DeviceStatusView view;
    view.setProperty("text", QStringLiteral("No device connected"));
    DeviceInfo info;
    info.model = Base;
    view.setDeviceInfo(info);
    QVERIFY(view.text().startsWith(QStringLiteral("Pelk Connected\n\n")));
    QVERIFY(!view.text().contains(QStringLiteral("No device connected")));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::TestDeviceStatusView, PelkPlus::WidgetTest)

#include "tst_DeviceStatusView.moc"
