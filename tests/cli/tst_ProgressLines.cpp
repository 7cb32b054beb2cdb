// The install bar's label: only DSP firmware of a known size, sent with its size in the text, names
// the text file it was made from.
#include "cli/ProgressLines.h"

#include <QtTest>

using namespace PelkPlus;

class tst_ProgressLines : public QObject
{
    Q_OBJECT

private slots:
    void installLabel_data();
    void installLabel();
};

void tst_ProgressLines::installLabel_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("size"); // as the plan lists it
    QTest::addColumn<QString>("installText");
    QTest::addColumn<QString>("label");

    const QString sending = QStringLiteral("Installing (6 KB)");
    QTest::newRow("DSP firmware") << int(ComponentType::DspFirmware) << qint64(30000) << sending
                                  << "Installing (6 KB: the 30 KB text file as bytes)";
    QTest::newRow("another component")
        << int(ComponentType::McuFirmware) << qint64(30000) << sending << sending;
    QTest::newRow("DSP firmware of no known size")
        << int(ComponentType::DspFirmware) << qint64(0) << sending << sending;
    QTest::newRow("DSP firmware, no size in the text")
        << int(ComponentType::DspFirmware) << qint64(30000) << "Installing"
        << "Installing";
}

void tst_ProgressLines::installLabel()
{
    QFETCH(int, type);
    QFETCH(qint64, size);
    QFETCH(QString, installText);
    QFETCH(QString, label);

    Component component;
    component.type = ComponentType(type);
    component.size = size;
    QCOMPARE(ProgressLines::installLabel(installText, component), label);
}

QTEST_GUILESS_MAIN(tst_ProgressLines)
#include "tst_ProgressLines.moc"
