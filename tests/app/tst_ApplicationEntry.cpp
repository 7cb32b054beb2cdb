#include "app/ApplicationPaths.h"
#include "app/ApplicationSetup.h"
#include "app/MessageHandler.h"
#include "app/PelkVersion.h"
#include "support/StdoutCapture.h"
#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace PelkPlus;

// The start-up of the updater: its message handler, its identity and its single-instance lock,
// the last with real processes.
class tst_ApplicationEntry : public QObject
{
    Q_OBJECT

private slots:
    void messageHandlerWritesLines();
    void messagesFromThreadsStayWhole();
    void identity();
    void anotherInstanceBox();
    void lockIsPrivate();
    void secondInstance_data();
    void secondInstance();
    void staleLockIsTakenOver();
    void commandLine_data();
    void commandLine();

private:
    QProcess* startUpdater(const QString& runtime, const QString& config, const QString& program = QString());
};

void tst_ApplicationEntry::messageHandlerWritesLines()
{
    QTemporaryDir dir;
    StdoutCapture capture(dir.filePath(QStringLiteral("stdout")));
    QVERIFY(capture.isOpen());
    const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
    qDebug() << "MainWindow: Failed to create download directory.";
    qDebug("DeviceAgent: connecting...");
    qWarning("two\nlines");
    qCritical() << "DeviceAgent: Failed to connect. Error:" << 12;
    qInstallMessageHandler(previous);
    QCOMPARE(capture.finish(),
        QByteArray("MainWindow: Failed to create download directory.\n"
                   "DeviceAgent: connecting...\n"
                   "two\nlines\n"
                   "DeviceAgent: Failed to connect. Error: 12\n"));
}

void tst_ApplicationEntry::messagesFromThreadsStayWhole()
{
    QTemporaryDir dir;
    StdoutCapture capture(dir.filePath(QStringLiteral("stdout")));
    QVERIFY(capture.isOpen());
    const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
    // Lines run together only when a thread is preempted inside a message: many short rounds of
    // threads that start together make that all but certain where it can happen.
    constexpr int rounds = 40;
    constexpr int threads = 4;
    constexpr int messages = 500;
    for (int round = 0; round < rounds; ++round) {
        std::atomic<int> waiting { threads };
        std::vector<std::thread> loggers;
        for (int t = 0; t < threads; ++t) {
            loggers.emplace_back([t, &waiting] {
                --waiting;
                while (waiting > 0)
                    std::this_thread::yield();
                for (int m = 0; m < messages; ++m)
                    qDebug("thread %d message %d", t, m);
            });
        }
        for (std::thread& logger : loggers)
            logger.join();
    }
    qInstallMessageHandler(previous);
    const QList<QByteArray> lines = capture.finish().split('\n');
    QCOMPARE(lines.size(), rounds * threads * messages + 1);
    const QRegularExpression whole(QStringLiteral("^thread \\d message \\d+$"));
    for (const QByteArray& line : lines.mid(0, rounds * threads * messages))
        QVERIFY2(whole.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

void tst_ApplicationEntry::identity()
{
    ApplicationSetup::setIdentity(*qApp);
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Pelk Updater"));
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Quellor"));
    QCOMPARE(QCoreApplication::organizationDomain(), QStringLiteral("quellor.com"));
    // The installed menu entry, icon and AppStream metadata carry this id.
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("com.quellor.PelkUpdater"));
    QVERIFY(!QApplication::windowIcon().isNull());
    QCOMPARE(QApplication::windowIcon().availableSizes(), QList<QSize>({ QSize(256, 256) }));
}

void tst_ApplicationEntry::anotherInstanceBox()
{
    QScopedPointer<QMessageBox> box(ApplicationSetup::createAnotherInstanceBox());
    QVERIFY(!box->parent());
    QCOMPARE(box->windowTitle(), QString());
    QCOMPARE(box->text(), QStringLiteral("Another instance of the application is already running."));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->standardButton(box->buttons().first()), QMessageBox::Ok);
    QVERIFY(!box->defaultButton());
}

void tst_ApplicationEntry::lockIsPrivate()
{
    // The lock lives in a folder of the account's own (here the test's), never in the shared /tmp.
    const QString lock = ApplicationPaths::singleInstanceLockPath();
    QVERIFY(lock.endsWith(QStringLiteral("/quellor_pelk_updater_single_instance_lock")));
    QCOMPARE(QFileInfo(lock).absolutePath(),
        QFileInfo(qEnvironmentVariable("PELK_INSTANCE_LOCK_DIR")).absoluteFilePath());
}

QProcess* tst_ApplicationEntry::startUpdater(
    const QString& runtime, const QString& config, const QString& program)
{
    auto* process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("PELK_INSTANCE_LOCK_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A variable the updater once read to close its own box: the product must not heed it.
    environment.insert(QStringLiteral("PELK_TEST_DISMISS_DIALOG_MS"), QStringLiteral("300"));
    // No device and no bus: the window just waits.
    environment.insert(QStringLiteral("PELK_HIDSIM_SOCKET"), runtime + QStringLiteral("/no-bus"));
    process->setProcessEnvironment(environment);
    process->start(program.isEmpty() ? qEnvironmentVariable("PELK_UPDATER") : program, QStringList());
    return process;
}

void tst_ApplicationEntry::secondInstance_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("boxClosed");
    // The test copy shares the product's start-up and has its box closed for it; the product keeps
    // its box until the user closes it.
    QTest::newRow("test copy") << QCoreApplication::applicationDirPath()
            + QStringLiteral("/pelk-updater-dismissing")
                               << true;
    QTest::newRow("product") << qEnvironmentVariable("PELK_UPDATER") << false;
}

void tst_ApplicationEntry::secondInstance()
{
    QFETCH(QString, program);
    QFETCH(bool, boxClosed);
    QTemporaryDir root;
    const QString runtime = root.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString firstConfig = root.filePath(QStringLiteral("config-1"));
    const QString secondConfig = root.filePath(QStringLiteral("config-2"));

    QProcess* first = startUpdater(runtime, firstConfig);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(runtime + QStringLiteral("/quellor_pelk_updater_single_instance_lock")), 10000);

    QProcess* second = startUpdater(runtime, secondConfig, program);
    if (!boxClosed) {
        QVERIFY(!second->waitForFinished(1500));
        const QByteArray output = second->readAllStandardOutput();
        QVERIFY2(output.startsWith("Another instance"), output.constData());
        second->kill();
        second->waitForFinished();
        first->kill();
        first->waitForFinished();
        return;
    }
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    // The offscreen platform may add warnings of its own after the line.
    const QByteArray output = second->readAllStandardOutput();
    QVERIFY2(
        output.startsWith("Another instance of the application is already running.\n"), output.constData());
    // The second instance never reached the settings.
    QVERIFY(!QFileInfo::exists(secondConfig));

    QCOMPARE(first->state(), QProcess::Running);
    first->kill();
    first->waitForFinished();
}

void tst_ApplicationEntry::staleLockIsTakenOver()
{
    QTemporaryDir root;
    const QString runtime = root.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString lock = runtime + QStringLiteral("/quellor_pelk_updater_single_instance_lock");

    QProcess* crashed = startUpdater(runtime, root.filePath(QStringLiteral("config")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000);
    crashed->kill();
    crashed->waitForFinished();
    QVERIFY(QFile::exists(lock));

    QProcess* next = startUpdater(runtime, root.filePath(QStringLiteral("config")));
    QVERIFY(next->waitForStarted());
    // Still running after a while: it took the lock over rather than reporting another instance.
    QVERIFY(!next->waitForFinished(1500));
    QVERIFY(!next->readAllStandardOutput().contains("Another instance"));
    next->kill();
    next->waitForFinished();
}

void tst_ApplicationEntry::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("standardOutput");
    QTest::addColumn<QByteArray>("standardError");

    QTest::newRow("--help") << QStringList({ "--help" }) << QString() << 0 << QByteArray("\n  -v, --version")
                            << QByteArray();
    QTest::newRow("--version") << QStringList({ "--version" }) << QString() << 0
                               << QByteArray("Pelk Updater ") + applicationVersionText + '\n'
                               << QByteArray();
    QTest::newRow("unknown option") << QStringList({ "--frobnicate" }) << QString() << 2 << QByteArray()
                                    << QByteArray("Unknown option 'frobnicate'.\n\nUsage: ");
    QTest::newRow("no display") << QStringList() << QString() << 1 << QByteArray()
                                << QByteArray(
                                       "no display: set DISPLAY or WAYLAND_DISPLAY, or use pelk-cli\n");
    QTest::newRow("X platform, no display")
        << QStringList() << QStringLiteral("xcb") << 1 << QByteArray()
        << QByteArray("no display: set DISPLAY or WAYLAND_DISPLAY, or use pelk-cli\n");
}

void tst_ApplicationEntry::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, platform);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, standardOutput);
    QFETCH(QByteArray, standardError);

    // No display at all, and another instance holding the lock: the answer needs neither.
    QTemporaryDir root;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    if (!platform.isEmpty())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    QLockFile lock(root.filePath(QStringLiteral("quellor_pelk_updater_single_instance_lock")));
    QVERIFY(lock.tryLock(0));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("PELK_UPDATER"), arguments);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray output = process.readAllStandardOutput();
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(
        standardOutput.isEmpty() ? output.isEmpty() : output.contains(standardOutput), output.constData());
    QVERIFY2(standardError.isEmpty() ? error.isEmpty() : error.startsWith(standardError), error.constData());
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("config"))));
}

PELK_TEST_MAIN(tst_ApplicationEntry, PelkPlus::WidgetTest)

#include "tst_ApplicationEntry.moc"
