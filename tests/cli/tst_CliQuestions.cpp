#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliQuestions.h"

#include <QtTest>

#include <cstdio>

namespace PelkPlus {

// The command line's answer to a warning that asks whether to go on: only what its arguments said
// beforehand.
class tst_CliQuestions : public QObject
{
    Q_OBJECT

private slots:
    void confirm_data();
    void confirm();
};

void tst_CliQuestions::confirm_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("goesOn");

    QTest::newRow("update") << QStringList { "update" } << false;
    QTest::newRow("update --yes") << QStringList { "update", "--yes" } << false;
    QTest::newRow("update --ignore-power") << QStringList { "update", "--ignore-power" } << false;
    QTest::newRow("update --yes --ignore-power")
        << QStringList { "update", "--yes", "--ignore-power" } << true;
    QTest::newRow("install -y --ignore-power")
        << QStringList { "install", "f", "--type", "mcu", "-y", "--ignore-power" } << true;
}

void tst_CliQuestions::confirm()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, goesOn);

    CliOptions options;
    QString text;
    QCOMPARE(CliOptions::parse(QStringList { "pelk-cli" } + arguments, &options, &text), CliOptions::Run);
    std::FILE* sink = std::tmpfile();
    QVERIFY(sink);
    {
        CliOutput output(sink, false, true, false);
        CliQuestions questions(&output);
        questions.setConfirmed(options.yes && options.ignorePower);
        QCOMPARE(
            questions.confirm(QStringLiteral("Low Battery"), QStringLiteral("Plug it in.\n\nMore.")), goesOn);
        QCOMPARE(questions.takeDeclined(), !goesOn);
        QVERIFY(!questions.takeDeclined());
    }
    std::fclose(sink);
    const QString refusal
        = CliQuestions::refusalText(QStringLiteral("Low Battery"), QStringLiteral("Plug it in.\n\nMore."));
    QVERIFY2(
        refusal.startsWith(QLatin1String("Low Battery: Plug it in.\nNothing was sent")), qPrintable(refusal));
    QVERIFY(refusal.contains(QLatin1String("--yes and --ignore-power")));
}

} // namespace PelkPlus

QTEST_GUILESS_MAIN(PelkPlus::tst_CliQuestions)

#include "tst_CliQuestions.moc"
