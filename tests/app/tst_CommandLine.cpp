#include "app/CommandLine.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QtTest>

using namespace PelkPlus;

Q_DECLARE_METATYPE(CommandLine::Request)

// What the command line asks for, decided from the arguments and the environment alone.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void inspect_data();
    void inspect();
};

void tst_CommandLine::inspect_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<CommandLine::Request>("request");

    using R = CommandLine::Request;
    const QStringList x11 = { "DISPLAY=:0" };
    const QStringList none;
    QTest::newRow("window on X") << QStringList() << x11 << R::Run;
    QTest::newRow("window on Wayland")
        << QStringList() << QStringList({ "WAYLAND_DISPLAY=wayland-1" }) << R::Run;
    QTest::newRow("help, no display") << QStringList({ "--help" }) << none << R::Help;
    QTest::newRow("-h") << QStringList({ "-h" }) << none << R::Help;
    QTest::newRow("version, no display") << QStringList({ "--version" }) << none << R::Version;
    QTest::newRow("-v") << QStringList({ "-v" }) << none << R::Version;
    QTest::newRow("unknown option") << QStringList({ "--frobnicate" }) << x11 << R::UsageError;
    QTest::newRow("unknown before help") << QStringList({ "--frobnicate", "--help" }) << x11 << R::UsageError;
    QTest::newRow("missing value") << QStringList({ "-platform" }) << x11 << R::UsageError;
    QTest::newRow("two update bundles") << QStringList({ "a.tar.gz", "b.tar.gz" }) << x11 << R::UsageError;
    QTest::newRow("no display") << QStringList() << none << R::NoDisplay;
    QTest::newRow("empty DISPLAY") << QStringList() << QStringList({ "DISPLAY=" }) << R::NoDisplay;
    QTest::newRow("offscreen") << QStringList() << QStringList({ "QT_QPA_PLATFORM=offscreen" }) << R::Run;
    QTest::newRow("minimal with options")
        << QStringList() << QStringList({ "QT_QPA_PLATFORM=minimal:x=1" }) << R::Run;
    QTest::newRow("toolkit's -platform") << QStringList({ "-platform", "offscreen" }) << none << R::Run;
    QTest::newRow("-platform xcb, no X")
        << QStringList({ "-platform", "xcb" }) << QStringList({ "WAYLAND_DISPLAY=w" }) << R::NoDisplay;
    QTest::newRow("-display") << QStringList({ "-display", ":1" }) << none << R::Run;
    QTest::newRow("xcb without X") << QStringList()
                                   << QStringList({ "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=w" })
                                   << R::NoDisplay;
    QTest::newRow("wayland without compositor")
        << QStringList() << QStringList({ "QT_QPA_PLATFORM=wayland", "DISPLAY=:0" }) << R::NoDisplay;
    QTest::newRow("fallback list") << QStringList()
                                   << QStringList({ "QT_QPA_PLATFORM=wayland;xcb", "DISPLAY=:0" }) << R::Run;
    QTest::newRow("toolkit's -style") << QStringList({ "-style", "fusion", "--reverse" }) << x11 << R::Run;
    QTest::newRow("what --help-all lists") << QStringList({ "--qmljsdebugger=port:1234" }) << x11 << R::Run;
}

void tst_CommandLine::inspect()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(CommandLine::Request, request);
#if defined(Q_OS_WIN)
    if (request == CommandLine::Request::NoDisplay)
        QSKIP("Windows always has its desktop: only X and Wayland can be missing");
#endif

    QProcessEnvironment variables;
    for (const QString& entry : environment)
        variables.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    QString error;
    QCOMPARE(CommandLine::inspect(QStringList({ "pelk-updater" }) + arguments, variables, &error), request);
    QCOMPARE(error.isEmpty(), request != CommandLine::Request::UsageError);
}

PELK_TEST_MAIN(tst_CommandLine, PelkPlus::ConsoleTest)
#include "tst_CommandLine.moc"
