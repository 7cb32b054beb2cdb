#include "app/ApplicationIdentity.h"
#include "app/LogFile.h"
#include "app/MessageHandler.h"
#include "support/StdoutCapture.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace PelkPlus;

class tst_LogFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void linesAreStampedAndWhole();
    void firstLinesOfRacingThreadsAreStamped();
    void rotatesKeepingThreeOldFiles();
    void unwritableFolderIsReportedOnce();
};

void tst_LogFile::init()
{
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

void tst_LogFile::cleanup()
{
    LogFile::stop();
    qInstallMessageHandler(nullptr);
}

void tst_LogFile::linesAreStampedAndWhole()
{
    LogFile::start();
    QVERIFY(LogFile::isWriting());
    QCOMPARE(LogFile::folderPath(),
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Quellor/Pelk Updater/logs"));
    struct stat status
    {
    };
    QCOMPARE(::stat(QFile::encodeName(LogFile::folderPath()).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0700u);

    qInstallMessageHandler(messageHandler);
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; ++t)
        loggers.emplace_back([t] {
            for (int m = 0; m < 200; ++m)
                qDebug("thread %d message %d", t, m);
        });
    for (std::thread& logger : loggers)
        logger.join();
    qWarning("two\nlines");
    qCritical() << "DeviceAgent: Failed to connect. Error:" << 12;

    const QStringList lines = LogFile::lastLines(10000);
    QCOMPARE(lines.size(), 4 * 200 + 3);
    const QRegularExpression stamped(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z DEBUG thread \\d message \\d+$"));
    for (const QString& line : lines.mid(0, 800))
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    QCOMPARE(lines.at(800).mid(25), QStringLiteral("WARNING two"));
    QCOMPARE(lines.at(801).mid(25), QStringLiteral("WARNING lines"));
    QCOMPARE(lines.at(802).mid(25), QStringLiteral("CRITICAL DeviceAgent: Failed to connect. Error: 12"));
    QCOMPARE(LogFile::lastLines(2), lines.mid(801));
}

namespace {

const char raceChildVariable[] = "PELK_LOG_RACE_CHILD";

// In a fresh process, several threads released at once each write the process's first log line:
// whatever the stamp needs set up is then set up by all of them together.
int logFirstLinesRacing()
{
    LogFile::start();
    qInstallMessageHandler(messageHandler);
    std::atomic<int> waiting { 8 };
    std::vector<std::thread> loggers;
    for (int t = 0; t < 8; ++t)
        loggers.emplace_back([t, &waiting] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) { }
            qDebug("thread %d message 0", t);
        });
    for (std::thread& logger : loggers)
        logger.join();
    LogFile::stop();
    return 0;
}

} // namespace

void tst_LogFile::firstLinesOfRacingThreadsAreStamped()
{
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z DEBUG thread \\d message 0$"));
    for (int round = 0; round < 40; ++round) {
        QTemporaryDir data;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(raceChildVariable), data.path());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitCode(), 0);
        QFile log(data.filePath(QStringLiteral("Quellor/Pelk Updater/logs/pelk-updater.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines
            = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 8);
        for (const QString& line : lines)
            QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    }
}

void tst_LogFile::rotatesKeepingThreeOldFiles()
{
    LogFile::start();
    const QString text(1000, QLatin1Char('x'));
    const int messages = 5 * 1024; // about five files' worth
    for (int m = 0; m < messages; ++m)
        LogFile::write(QtDebugMsg, QString::number(m) + QLatin1Char(' ') + text);
    const QString path = LogFile::filePath();
    QVERIFY(QFileInfo(path).size() <= LogFile::maxFileSize);
    for (const QString& file : { path + ".1", path + ".2", path + ".3" }) {
        const qint64 size = QFileInfo(file).size();
        QVERIFY2(size <= LogFile::maxFileSize && size > LogFile::maxFileSize - 2000, qPrintable(file));
    }
    QVERIFY(!QFileInfo::exists(path + ".4"));
    // The kept lines run on without a gap across the files, up to the last one written.
    const QStringList lines = LogFile::lastLines(messages);
    QVERIFY(lines.size() > 3 * 1000 && lines.size() < messages);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i).section(QLatin1Char(' '), 2, 2).toInt(), messages - lines.size() + i);
}

void tst_LogFile::unwritableFolderIsReportedOnce()
{
    // A file where the data folder should be: nobody, root included, can create the folder.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY(QDir().mkpath(QFileInfo(data).path()));
    QFile blocker(data);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QTemporaryDir dir;
    StdoutCapture capture(dir.filePath(QStringLiteral("stdout")));
    QVERIFY(capture.isOpen());
    LogFile::start();
    qInstallMessageHandler(messageHandler);
    qDebug("one");
    qDebug("two");
    qInstallMessageHandler(nullptr);
    const QByteArray printed = capture.finish();
    QVERIFY(QFile::remove(data));
    QVERIFY(!LogFile::isWriting());
    QCOMPARE(printed,
        "LogFile: Cannot write the log file " + QFile::encodeName(LogFile::filePath())
            + "; logging to standard output only.\none\ntwo\n");
}

namespace {

// The suite's process, or, started again by one of its tests, a rival that logs at the same time.
struct LogFileTest : ConsoleTest
{
    using ConsoleTest::ConsoleTest;
    static void prepare(int& argc, char** argv)
    {
        if (!qEnvironmentVariableIsSet(raceChildVariable))
            return;
        qputenv("XDG_DATA_HOME", qgetenv(raceChildVariable));
        QCoreApplication application(argc, argv);
        ApplicationIdentity::setNames(application);
        std::exit(logFirstLinesRacing());
    }
};

} // namespace

PELK_TEST_MAIN(tst_LogFile, LogFileTest)

#include "tst_LogFile.moc"
