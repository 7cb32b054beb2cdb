// What the command line writes, byte for byte: results, JSON objects and failures, and the bar
// redrawn on a terminal.
#include "cli/CliOutput.h"
#include "support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cstdio>

using namespace PelkPlus;

class tst_CliOutput : public QObject
{
    Q_OBJECT

private slots:
    void written_data();
    void written();
};

using Step = std::function<void(CliOutput&)>;
Q_DECLARE_METATYPE(Step)

void tst_CliOutput::written_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<Step>("steps");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out"); // what the result stream holds at the end

    // A long label then a short one: every redraw clears to the end of the line.
    QTest::newRow("bar clears the old tail")
        << false << true << Step([](CliOutput& o) {
               o.progress(QStringLiteral("Downloading DSP Firmware (file 2 of 4), 8 KB"), 50);
               o.progress(QStringLiteral("Installing"), 10);
           })
        << 0
        << QByteArray("\r  Downloading DSP Firmware (file 2 of 4), 8 KB [##########..........]  50%\x1b[K"
                      "\r  Installing                   [##..................]  10%\x1b[K\n");
    // A stream that is no terminal is 80 columns wide; the line keeps its last one free.
    QTest::newRow("a long label shortened after a part") << false << true << Step([](CliOutput& o) {
        o.progress(QStringLiteral("Installing (32 KB) - Component 1 of 4, 12 % of the update done"), 12);
    }) << 0 << QByteArray("\r  Installing (32 KB) - Component 1 of 4... [##..................]  12%\x1b[K\n");
    QTest::newRow("lines off a terminal") << false << false << Step([](CliOutput& o) {
        for (int percent : { 10, 15, 20, 30, 60, 70, 100 })
            o.progress(QStringLiteral("Installing"), percent);
    }) << 0 << QByteArray("  Installing: 10%\n  Installing: 30%\n  Installing: 60%\n  Installing: 100%\n");
    QTest::newRow("an error after a prompt on a line of its own") << false << false << Step([](CliOutput& o) {
        o.prompt(QStringLiteral("Install 4 component(s) now? [y/N] "));
        o.error(QStringLiteral("Update cancelled."));
    }) << 1 << QByteArray("Install 4 component(s) now? [y/N] \n");
    QTest::newRow("a failure without an answer")
        << true << false << Step([](CliOutput& o) {
               o.error(QStringLiteral("No device connected."), QStringLiteral("no-device"));
               o.error(QStringLiteral("Later words."), QStringLiteral("other"));
           })
        << 2
        << QByteArray(R"({"error":{"kind":"no-device","message":"No device connected."}})"
                      "\n");
    QTest::newRow("a failure beside the answer")
        << true << false << Step([](CliOutput& o) {
               o.object(QJsonObject { { QStringLiteral("devices"), QJsonValue() } });
               o.error(QStringLiteral("Download Failure: Failed."),
                   CliOutput::errorKindForTitle("Download Failure"));
           })
        << 1
        << QByteArray(R"({"devices":null,"error":{"kind":"download","message":"Download Failure: Failed."}})"
                      "\n");
    QTest::newRow("a failure of no known kind")
        << true << false
        << Step([](CliOutput& o) { o.error(QStringLiteral("Odd."), CliOutput::errorKindForTitle("")); }) << 1
        << QByteArray(R"({"error":{"kind":"failure","message":"Odd."}})"
                      "\n");
    QTest::newRow("a warning is no failure") << true << false << Step([](CliOutput& o) {
        o.warning(QStringLiteral("Press Ctrl-C again."));
        o.object(QJsonObject { { QStringLiteral("done"), true } });
    }) << 0
                                             << QByteArray(R"({"done":true})"
                                                           "\n");
    QTest::newRow("no JSON without --json")
        << false << false << Step([](CliOutput& o) { o.error(QStringLiteral("Odd.")); }) << 1 << QByteArray();
}

void tst_CliOutput::written()
{
    QFETCH(bool, json);
    QFETCH(bool, terminal);
    QFETCH(Step, steps);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);

    std::FILE* stream = std::tmpfile();
    QVERIFY(stream);
    {
        CliOutput output(stream, json, false, terminal);
        steps(output);
        output.close(exitCode);
    }
    std::fflush(stream);
    std::rewind(stream);
    QByteArray written;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), stream)) > 0)
        written.append(buffer, int(got));
    std::fclose(stream);
    QCOMPARE(written, out);
}

PELK_TEST_MAIN(tst_CliOutput, PelkPlus::ConsoleTest)
#include "tst_CliOutput.moc"
