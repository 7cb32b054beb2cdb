#include "device/DeviceAgent.h"

#include "device/DeviceAgentWorker.h"
#include "device/DeviceMonitor.h"
#include "device/LinkResult.h"
#include "support/FakeHidBackend.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <mutex>

using namespace PelkPlus;

namespace {

const QByteArray devicePath("/dev/hidraw7");

// Every log line of the process, whatever thread wrote it, for checking the agent's exact texts.
std::mutex logMutex;
QStringList logLines;
QtMessageHandler testlibHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        std::lock_guard<std::mutex> lock(logMutex);
        logLines << message;
    }
    if (testlibHandler)
        testlibHandler(type, context, message);
}

QStringList loggedLines()
{
    std::lock_guard<std::mutex> lock(logMutex);
    return logLines;
}

int logCount(const QString& line)
{
    return loggedLines().count(line);
}

bool logged(const QString& line)
{
    return logCount(line) > 0;
}

enum class HeaderFault { OpenFails, ReadFails, WriteFails, BadSignature, BadCommand, BadCount };

} // namespace

Q_DECLARE_METATYPE(HeaderFault)

class TestDeviceAgent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectReportsDeviceInfo_data();
    void connectReportsDeviceInfo();
    void retriesOnTimeoutUntilStopped();
    void silentInterfaceGivesWayToTheNext();
    void failsOnOtherErrors_data();
    void failsOnOtherErrors();
    void accessDeniedIsWaitedForWithinBound_data();
    void accessDeniedIsWaitedForWithinBound();
    void removalWhileRetryingIsForgottenOnReopen();
    void deviceThreadTakesNoInterrupts();
    void startWhileRunningIsRefused();
    void stopClosesLinkAndAllowsRestart();
    void requestsWithoutLinkOnlyLog_data();
    void requestsWithoutLinkOnlyLog();
    void baseIsAssumedReadyAfterThreeSeconds();
    void plusIsAskedUntilReady_data();
    void plusIsAskedUntilReady();
    void plusNeverReadyIsAssumedReadyAfterTwentySeconds();
    void plusTakingNoQueryIsNotAssumedReady();
    void sendsFileByType_data();
    void sendsFileByType();
    void progressIsForwardedBeforeDone();
    void otherPathsDisconnectionKeepsLink();
    void ownPathsDisconnectionClosesLink();
    void disconnectionWhileRetryingEndsInFailure();
    void deletionStopsRunningTransfer();
    void deletionEndsReadyCheckPromptly_data();
    void deletionEndsReadyCheckPromptly();
    void workerHandlesItsOwnEvents();

private:
    // Creates the agent for devicePath with the model and records its signals in order.
    void createAgent(int model);
    // Plugs a device with the script, creates the agent and waits for ready.
    void connectAgent(int model, const FakeHidBackend::DeviceScript& script = FakeHidBackend::DeviceScript());
    QString writeFile(const QString& name, const QByteArray& content);
    // A Pelk+ that never answers the header request, and an agent started on it: it keeps retrying.
    void startAgentOnSilentDevice();

    std::unique_ptr<FakeHidBackend> bus;
    std::unique_ptr<QTemporaryDir> files;
    // Never started: the tests emit its disconnected signal themselves.
    DeviceMonitor monitor;
    std::unique_ptr<DeviceAgent> agent;
    QStringList signalsSeen;
    QList<QPair<float, long>> progressSeen;
};

void TestDeviceAgent::initTestCase()
{
    registerDeviceMetaTypes();
    testlibHandler = qInstallMessageHandler(captureMessage);
}

void TestDeviceAgent::init()
{
    bus = std::make_unique<FakeHidBackend>();
    files = std::make_unique<QTemporaryDir>();
    QVERIFY(files->isValid());
    signalsSeen.clear();
    progressSeen.clear();
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.clear();
}

void TestDeviceAgent::cleanup()
{
    agent.reset();
    // The worker closes its link when it goes with the agent's thread.
    QCOMPARE(bus->openHandles(), 0);
    bus.reset();
    files.reset();
}

void TestDeviceAgent::createAgent(int model)
{
    const QString path = QString::fromLatin1(devicePath);
    agent = std::make_unique<DeviceAgent>(Connection(path, model, QStringLiteral("SN")), &monitor);
    DeviceAgent* a = agent.get();
    connect(a, &DeviceAgent::ready, this, [this] { signalsSeen << "ready"; });
    connect(a, &DeviceAgent::readyForUpdate, this, [this] { signalsSeen << "readyForUpdate"; });
    connect(a, &DeviceAgent::notReadyForUpdate, this, [this] { signalsSeen << "notReadyForUpdate"; });
    connect(a, &DeviceAgent::failure, this, [this] { signalsSeen << "failure"; });
    connect(a, &DeviceAgent::disconnected, this, [this] { signalsSeen << "disconnected"; });
    connect(a, &DeviceAgent::done, this, [this] { signalsSeen << "done"; });
    connect(a, &DeviceAgent::progress, this, [this](float fraction, long total) {
        signalsSeen << "progress";
        progressSeen << qMakePair(fraction, total);
    });
}

void TestDeviceAgent::startAgentOnSilentDevice()
{
    bus->plug(devicePath, 0x0043);
    FakeHidBackend::DeviceScript script;
    script.headerAnswer = FakeHidBackend::Answer::Timeout;
    script.timeoutDelayMs = 20;
    bus->setScript(devicePath, script);
    createAgent(Plus);
    agent->start();
}

void TestDeviceAgent::connectAgent(int model, const FakeHidBackend::DeviceScript& script)
{
    bus->plug(devicePath, model == Base ? 0x0042 : 0x0043, QStringLiteral("SN"));
    bus->setScript(devicePath, script);
    createAgent(model);
    agent->start();
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, QStringList { "ready" }, 5000);
}

QString TestDeviceAgent::writeFile(const QString& name, const QByteArray& content)
{
    const QString path = files->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void TestDeviceAgent::connectReportsDeviceInfo_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("mcu");
    QTest::addColumn<QString>("dsp");
    QTest::addColumn<uint>("styles");
    QTest::addColumn<uint>("ensemble");
    QTest::addColumn<int>("tag");

    // A Pelk reports its release types without their low bits, which read as Production.
    QTest::newRow("Pelk") << int(Base)
                          << FakeHidBackend::headerReplyBytes(0x0012, 0x0045, 0, 0x01020304, 0x1234)
                          << "3.1.2"
                          << "3.4.5" << 0u << 0x01020304u << 0x1234;
    QTest::newRow("Pelk+") << int(Plus)
                           << FakeHidBackend::headerReplyBytes(0x0165, 0x0123, 0x1A2B, 0x00010203, 7)
                           << "1.6.5"
                           << "1.2.3" << 0x1A2Bu << 0x00010203u << 7;
}

void TestDeviceAgent::connectReportsDeviceInfo()
{
    QFETCH(int, model);
    QFETCH(QByteArray, header);

    bus->plug(devicePath, model == Base ? 0x0042 : 0x0043);
    FakeHidBackend::DeviceScript script;
    script.headerReply = header;
    bus->setScript(devicePath, script);
    createAgent(model);
    QCOMPARE(agent->connection().path, QString::fromLatin1(devicePath));
    QCOMPARE(agent->connection().model, model);
    QCOMPARE(agent->deviceInfo().mcuVersion.toString(), QStringLiteral("0.0.0"));

    QSignalSpy ready(agent.get(), &DeviceAgent::ready);
    agent->start();
    QVERIFY(ready.wait(5000));
    const auto info = ready.first().first().value<DeviceInfo>();
    QCOMPARE(info.model, model);
    QTEST(info.mcuVersion.toString(), "mcu");
    QTEST(info.dspVersion.toString(), "dsp");
    QTEST(uint(info.stylesVersion), "styles");
    QTEST(uint(info.ensembleVersion), "ensemble");
    QTEST(info.tag, "tag");
    // What the agent keeps is what ready carried.
    QCOMPARE(agent->deviceInfo().mcuVersion, info.mcuVersion);
    QCOMPARE(agent->deviceInfo().ensembleVersion, info.ensembleVersion);
    QCOMPARE(agent->deviceInfo().model, model);

    const QStringList expectedTrace { "DeviceAgent: starting...", "DeviceAgent: connecting...",
        "DeviceAgent: opening device...", "DeviceAgent: getting header...",
        "DeviceAgent: getting info from header...", "DeviceAgent: ready." };
    QCOMPARE(loggedLines(), expectedTrace);
    QCOMPARE(bus->openCount(devicePath), 1);
    QCOMPARE(bus->writtenReports(devicePath).size(), 1);
    QCOMPARE(FakeHidBackend::commandOf(bus->writtenReports(devicePath).first()), 0x000Au);
    QCOMPARE(signalsSeen, QStringList { "ready" });
}

void TestDeviceAgent::retriesOnTimeoutUntilStopped()
{
    startAgentOnSilentDevice();

    QTRY_VERIFY_WITH_TIMEOUT(bus->openCount(devicePath) >= 3, 5000);
    QVERIFY(logCount("DeviceAgent: Timeout. Retrying...") >= 2);
    agent->stop();
    // The retry still queued behind the stop finds the worker stopped.
    QTRY_VERIFY_WITH_TIMEOUT(logged("DeviceAgent: aborting connection: stopped."), 5000);
    const int opens = bus->openCount(devicePath);

    // Nothing retries any more: a request queued after the abort is answered without a new attempt.
    agent->checkReadyForUpdate();
    QTRY_VERIFY(logged("DeviceAgent: trying to check whether ready for update, but not connected."));
    QCOMPARE(bus->openCount(devicePath), opens);
    QCOMPARE(logCount("DeviceAgent: aborting connection: stopped."), 1);
    QVERIFY(!logged("DeviceAgent: Trying to stop, but not running."));
    QCoreApplication::processEvents();
    QVERIFY(signalsSeen.isEmpty());
}

void TestDeviceAgent::silentInterfaceGivesWayToTheNext()
{
    const QByteArray otherPath("/dev/hidraw8");
    bus->plug(devicePath, 0x0043, QStringLiteral("SN"));
    bus->plug(otherPath, 0x0043, QStringLiteral("SN"));
    FakeHidBackend::DeviceScript silent;
    silent.headerAnswer = FakeHidBackend::Answer::Timeout;
    bus->setScript(devicePath, silent);
    Connection connection(QString::fromLatin1(devicePath), Plus, QStringLiteral("SN"));
    connection.otherInterfaces = QStringList { QString::fromLatin1(otherPath) };
    agent = std::make_unique<DeviceAgent>(connection, &monitor);
    QSignalSpy ready(agent.get(), &DeviceAgent::ready);
    agent->start();
    QVERIFY(ready.wait(10000));
    QCOMPARE(bus->openCount(devicePath), 1);
    QCOMPARE(bus->openCount(otherPath), 1);
    QCOMPARE(bus->openHandles(), 1);
}

void TestDeviceAgent::failsOnOtherErrors_data()
{
    QTest::addColumn<HeaderFault>("fault");
    QTest::addColumn<int>("code");

    QTest::newRow("path cannot be opened") << HeaderFault::OpenFails << 2;
    QTest::newRow("reading fails") << HeaderFault::ReadFails << 4;
    QTest::newRow("writing fails") << HeaderFault::WriteFails << 5;
    QTest::newRow("bad signature") << HeaderFault::BadSignature << 7;
    QTest::newRow("bad command") << HeaderFault::BadCommand << 8;
    QTest::newRow("bad count") << HeaderFault::BadCount << 9;
}

void TestDeviceAgent::failsOnOtherErrors()
{
    QFETCH(HeaderFault, fault);
    QFETCH(int, code);

    bus->plug(devicePath, 0x0043);
    FakeHidBackend::DeviceScript script;
    switch (fault) {
    case HeaderFault::OpenFails:
        script.openFails = true;
        break;
    case HeaderFault::ReadFails:
        script.headerAnswer = FakeHidBackend::Answer::Failure;
        break;
    case HeaderFault::WriteFails:
        script.failWritesFrom = 0;
        break;
    case HeaderFault::BadSignature:
        script.headerReply[1] = 0x04;
        break;
    case HeaderFault::BadCommand:
        script.headerReply[2] = 0x0A;
        break;
    case HeaderFault::BadCount:
        script.headerReply[5] = 0x02;
        break;
    }
    bus->setScript(devicePath, script);
    createAgent(Plus);
    const QString failed = QStringLiteral("DeviceAgent: Failed to connect. Error: %1").arg(code);

    agent->start();
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, QStringList { "failure" }, 5000);
    QCOMPARE(logCount(failed), 1);
    QVERIFY(!logged("DeviceAgent: Timeout. Retrying..."));
    QCOMPARE(bus->openHandles(), 0);

    // A failed connection leaves the worker idle, so it can be started again.
    agent->start();
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, (QStringList { "failure", "failure" }), 5000);
    QCOMPARE(logCount(failed), 2);
    QVERIFY(!logged("DeviceAgent: already running!"));
}

void TestDeviceAgent::accessDeniedIsWaitedForWithinBound_data()
{
    QTest::addColumn<int>("deniedOpens");
    QTest::addColumn<bool>("connects");

    // udev applies the seat's rule a moment after the node appears: the agent waits for it.
    QTest::newRow("readable after a few attempts") << 5 << true;
    QTest::newRow("readable on the first retry") << 1 << true;
    // Without a seat (ssh, cron, a service) the node never becomes readable.
    QTest::newRow("never readable") << -1 << false;
}

void TestDeviceAgent::accessDeniedIsWaitedForWithinBound()
{
    QFETCH(int, deniedOpens);
    QFETCH(bool, connects);

    bus->plug(devicePath, 0x0043);
    FakeHidBackend::DeviceScript script;
    script.deniedOpens = deniedOpens;
    bus->setScript(devicePath, script);
    createAgent(Plus);
    QElapsedTimer clock;
    clock.start();
    agent->start();
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen.size(), 1, 2 * DeviceAgentWorker::accessWaitMs + 3000);
    if (connects) {
        QCOMPARE(signalsSeen, QStringList { "ready" });
        QCOMPARE(bus->openAttempts(devicePath), deniedOpens + 1);
        QCOMPARE(agent->lastResult(), LinkOk);
        QVERIFY(!logged("DeviceAgent: Failed to connect. Error: 3"));
        return;
    }
    QCOMPARE(signalsSeen, QStringList { "failure" });
    QCOMPARE(agent->lastResult(), LinkAccessDenied);
    QVERIFY(clock.elapsed() >= DeviceAgentWorker::accessWaitMs);
    QVERIFY(bus->openAttempts(devicePath) > 2);
    QCOMPARE(logCount(QStringLiteral("DeviceAgent: Failed to connect. Error: 3")), 1);
    QCOMPARE(bus->openHandles(), 0);
}

void TestDeviceAgent::removalWhileRetryingIsForgottenOnReopen()
{
    startAgentOnSilentDevice();
    QTRY_VERIFY_WITH_TIMEOUT(bus->openCount(devicePath) >= 2, 5000);
    // The node goes and comes back on the same path between two attempts; the next one connects.
    emit monitor.disconnected(QString::fromLatin1(devicePath));
    FakeHidBackend::DeviceScript answering;
    answering.readyFlags = { 1 };
    bus->setScript(devicePath, answering);
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, QStringList { "ready" }, 5000);

    agent->checkReadyForUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, (QStringList { "ready", "readyForUpdate" }), 5000);
    QCOMPARE(bus->readyQueryCount(devicePath), 1);
}

void TestDeviceAgent::deviceThreadTakesNoInterrupts()
{
    FakeHidBackend::DeviceScript script;
    script.readyFlags = { 0, 1 };
    connectAgent(Plus, script);
    agent->checkReadyForUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(signalsSeen.contains("readyForUpdate"), 5000);
    // Opening, the header exchange and both queries ran with SIGINT and SIGTERM blocked.
    QVERIFY(bus->openAttempts(devicePath) >= 1);
    QCOMPARE(bus->callsOpenToInterrupts(), 0);
}

void TestDeviceAgent::startWhileRunningIsRefused()
{
    connectAgent(Plus);
    agent->start();
    QTRY_VERIFY(logged("DeviceAgent: already running!"));
    QCOMPARE(bus->openCount(devicePath), 1);
    QCOMPARE(bus->openHandles(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(signalsSeen, QStringList { "ready" });
}

void TestDeviceAgent::stopClosesLinkAndAllowsRestart()
{
    connectAgent(Base);
    agent->stop();
    QTRY_COMPARE(bus->openHandles(), 0);
    agent->stop();
    QTRY_VERIFY(logged("DeviceAgent: Trying to stop, but not running."));

    agent->start();
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, (QStringList { "ready", "ready" }), 5000);
    QCOMPARE(bus->openCount(devicePath), 2);
    QCOMPARE(bus->openHandles(), 1);
}

void TestDeviceAgent::requestsWithoutLinkOnlyLog_data()
{
    QTest::addColumn<bool>("sendFile");
    QTest::addColumn<QString>("line");

    QTest::newRow("ready check")
        << false << "DeviceAgent: trying to check whether ready for update, but not connected.";
    QTest::newRow("send file") << true << "DeviceAgent: trying to send file but not connected.";
}

void TestDeviceAgent::requestsWithoutLinkOnlyLog()
{
    QFETCH(bool, sendFile);
    QFETCH(QString, line);

    bus->plug(devicePath, 0x0043);
    createAgent(Plus);
    if (sendFile)
        agent->sendFile(0, writeFile(QStringLiteral("mcu.bin"), QByteArray(10, 'x')));
    else
        agent->checkReadyForUpdate();
    QTRY_VERIFY(logged(line));

    // Signals keep their order: if the request had answered, its signal would come before ready.
    agent->start();
    QTRY_VERIFY_WITH_TIMEOUT(signalsSeen.contains("ready"), 5000);
    QCOMPARE(signalsSeen, QStringList { "ready" });
    QCOMPARE(bus->writtenReports(devicePath).size(), 1);
}

void TestDeviceAgent::baseIsAssumedReadyAfterThreeSeconds()
{
    connectAgent(Base);
    const int writes = bus->writtenReports(devicePath).size();
    QSignalSpy readyForUpdate(agent.get(), &DeviceAgent::readyForUpdate);
    QElapsedTimer clock;
    clock.start();
    agent->checkReadyForUpdate();
    QVERIFY(readyForUpdate.wait(6000));
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(logged("DeviceAgent: Original Pelk: Assumed ready after 3 sec."));
    // The original model is never asked.
    QCOMPARE(bus->writtenReports(devicePath).size(), writes);
    QCOMPARE(bus->readyQueryCount(devicePath), 0);
    QCOMPARE(signalsSeen, (QStringList { "ready", "readyForUpdate" }));
}

void TestDeviceAgent::plusIsAskedUntilReady_data()
{
    QTest::addColumn<QList<int>>("flags");
    QTest::addColumn<int>("queries");

    QTest::newRow("ready at once") << QList<int> { 1 } << 1;
    QTest::newRow("ready at the third query") << QList<int> { 0, 0, 9 } << 3;
    QTest::newRow("time-outs count as not ready")
        << QList<int> { FakeHidBackend::readyTimesOut, FakeHidBackend::readyTimesOut, 1 } << 3;
    QTest::newRow("failed reads count as not ready") << QList<int> { FakeHidBackend::readyFails, 1 } << 2;
}

void TestDeviceAgent::plusIsAskedUntilReady()
{
    QFETCH(QList<int>, flags);
    QFETCH(int, queries);

    FakeHidBackend::DeviceScript script;
    script.readyFlags = flags;
    script.timeoutDelayMs = 200;
    connectAgent(Plus, script);
    QSignalSpy readyForUpdate(agent.get(), &DeviceAgent::readyForUpdate);
    agent->checkReadyForUpdate();
    QVERIFY(readyForUpdate.wait(10000));

    QCOMPARE(bus->readyQueryCount(devicePath), queries);
    const QStringList answers
        = loggedLines().filter(QStringLiteral("DeviceAgent: device ready for update = "));
    QCOMPARE(answers.size(), queries);
    QCOMPARE(answers.last(), QStringLiteral("DeviceAgent: device ready for update =  %1").arg(flags.last()));
    for (int i = 0; i < queries - 1; ++i)
        QCOMPARE(answers.at(i), QStringLiteral("DeviceAgent: device ready for update =  0"));
    QVERIFY(!logged("DeviceAgent: timed out checking whether device ready for update. Assuming ready."));
    QCOMPARE(signalsSeen, (QStringList { "ready", "readyForUpdate" }));
}

void TestDeviceAgent::plusNeverReadyIsAssumedReadyAfterTwentySeconds()
{
    if (!qEnvironmentVariableIsSet("PELK_SLOW_TESTS"))
        QSKIP("waits 20 s; runs in the slow test run (PELK_SLOW_TESTS=1)");

    // Every query goes unanswered for its whole 200 ms.
    FakeHidBackend::DeviceScript script;
    script.readyFlags.clear();
    script.finalReady = FakeHidBackend::readyTimesOut;
    script.timeoutDelayMs = 200;
    connectAgent(Plus, script);
    QSignalSpy readyForUpdate(agent.get(), &DeviceAgent::readyForUpdate);
    QElapsedTimer clock;
    clock.start();
    agent->checkReadyForUpdate();
    QVERIFY(readyForUpdate.wait(30000));
    QVERIFY2(clock.elapsed() >= 20000, qPrintable(QString::number(clock.elapsed())));

    const QStringList lines = loggedLines();
    const QStringList answers = lines.filter(QStringLiteral("DeviceAgent: device ready for update = "));
    // About 700 ms per round: a query that times out, then the pause.
    QVERIFY2(answers.size() >= 25 && answers.size() <= 30, qPrintable(QString::number(answers.size())));
    QCOMPARE(answers.size(), bus->readyQueryCount(devicePath));
    QCOMPARE(answers.count(QStringLiteral("DeviceAgent: device ready for update =  0")), answers.size());
    QCOMPARE(lines.last(),
        QStringLiteral("DeviceAgent: timed out checking whether device ready for update. "
                       "Assuming ready."));
    QCOMPARE(signalsSeen, (QStringList { "ready", "readyForUpdate" }));
}

void TestDeviceAgent::plusTakingNoQueryIsNotAssumedReady()
{
    if (!qEnvironmentVariableIsSet("PELK_SLOW_TESTS"))
        QSKIP("waits 20 s; runs in the slow test run (PELK_SLOW_TESTS=1)");

    // The header request goes through; every ready query fails to be written.
    FakeHidBackend::DeviceScript script;
    script.failWritesFrom = 1;
    connectAgent(Plus, script);
    QSignalSpy failure(agent.get(), &DeviceAgent::failure);
    agent->checkReadyForUpdate();
    QVERIFY(failure.wait(30000));
    QCOMPARE(agent->lastResult(), LinkWriteFailed);
    QCOMPARE(bus->readyQueryCount(devicePath), 0);
    QVERIFY(bus->writtenReports(devicePath).size() > 1);
    QVERIFY(!logged("DeviceAgent: timed out checking whether device ready for update. Assuming ready."));
    QCOMPARE(signalsSeen, (QStringList { "ready", "failure" }));
}

void TestDeviceAgent::sendsFileByType_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("failWritesFrom");
    QTest::addColumn<uint>("firstCommand");
    QTest::addColumn<uint>("lastCommand");
    QTest::addColumn<QString>("outcome");

    // Write 0 is the header request; a transfer's packets follow it. The sector transfers are made to
    // fail at their first packet, which shows which one ran without waiting for a sector's pause.
    const QByteArray data(100, '\x5A');
    QTest::newRow("MCU firmware") << 0 << data << -1 << 0x0004u << 0x0005u << "done";
    QTest::newRow("DSP firmware") << 1 << QByteArray("0x01\n0x7f\n") << -1 << 0x0002u << 0x0003u << "done";
    QTest::newRow("Styles") << 2 << data << 1 << 0x0014u << 0x0014u << "failure";
    QTest::newRow("Ensemble Audio") << 3 << data << 1 << 0x0007u << 0x0007u << "failure";
    QTest::newRow("unknown type 4") << 4 << data << -1 << 0u << 0u << "failure";
    QTest::newRow("negative type") << -1 << data << -1 << 0u << 0u << "failure";
    QTest::newRow("MCU file missing") << 0 << QByteArray() << -1 << 0u << 0u << "failure";
    QTest::newRow("DSP file malformed") << 1 << QByteArray("12\n") << -1 << 0u << 0u << "failure";
}

void TestDeviceAgent::sendsFileByType()
{
    QFETCH(int, fileType);
    QFETCH(QByteArray, content);
    QFETCH(int, failWritesFrom);
    QFETCH(uint, firstCommand);
    QFETCH(uint, lastCommand);
    QFETCH(QString, outcome);

    FakeHidBackend::DeviceScript script;
    script.failWritesFrom = failWritesFrom;
    connectAgent(Plus, script);
    const QString path = content.isEmpty() ? files->filePath(QStringLiteral("absent.bin"))
                                           : writeFile(QStringLiteral("component.bin"), content);
    QVERIFY(!path.isEmpty());

    agent->sendFile(fileType, path);
    QTRY_VERIFY_WITH_TIMEOUT(signalsSeen.contains(outcome), 10000);
    QCoreApplication::processEvents();
    signalsSeen.removeAll(QStringLiteral("progress"));
    QCOMPARE(signalsSeen, (QStringList { "ready", outcome }));

    const QList<QByteArray> reports = bus->writtenReports(devicePath).mid(1);
    if (firstCommand == 0) {
        QVERIFY(reports.isEmpty());
    } else {
        QVERIFY(!reports.isEmpty());
        QCOMPARE(FakeHidBackend::commandOf(reports.first()), firstCommand);
        QCOMPARE(FakeHidBackend::commandOf(reports.last()), lastCommand);
    }
    // The link stays open whatever the transfer's result.
    QCOMPARE(bus->openHandles(), 1);
}

void TestDeviceAgent::progressIsForwardedBeforeDone()
{
    connectAgent(Plus);
    // Three full packets and one with a single byte.
    const QString path = writeFile(QStringLiteral("mcu.bin"), QByteArray(169, '\x11'));
    agent->sendFile(0, path);
    QTRY_VERIFY_WITH_TIMEOUT(signalsSeen.contains("done"), 5000);
    QCOMPARE(signalsSeen, (QStringList { "ready", "progress", "progress", "progress", "progress", "done" }));
    const QList<float> fractions { 56.0f / 169, 112.0f / 169, 168.0f / 169, 1.0f };
    QCOMPARE(progressSeen.size(), fractions.size());
    for (int i = 0; i < fractions.size(); ++i) {
        QCOMPARE(progressSeen.at(i).first, fractions.at(i));
        QCOMPARE(progressSeen.at(i).second, 169L);
    }
}

void TestDeviceAgent::otherPathsDisconnectionKeepsLink()
{
    FakeHidBackend::DeviceScript script;
    script.readyFlags = { 1 };
    connectAgent(Plus, script);
    emit monitor.disconnected(QStringLiteral("/dev/hidraw8"));
    emit monitor.disconnected(QString::fromLatin1(devicePath) + QLatin1Char('/'));
    // A ready check after the disconnections still finds the link open.
    agent->checkReadyForUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(signalsSeen.contains("readyForUpdate"), 5000);
    QCOMPARE(signalsSeen, (QStringList { "ready", "readyForUpdate" }));
    QCOMPARE(bus->readyQueryCount(devicePath), 1);
    QCOMPARE(bus->openHandles(), 1);
    QVERIFY(!logged("Device Agent: disconnected."));
}

void TestDeviceAgent::ownPathsDisconnectionClosesLink()
{
    connectAgent(Plus);
    bus->unplug(devicePath);
    emit monitor.disconnected(QString::fromLatin1(devicePath));
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, (QStringList { "ready", "disconnected" }), 5000);
    QVERIFY(logged("Device Agent: disconnected."));
    QCOMPARE(bus->openHandles(), 0);

    // The worker is idle now: it neither sends nor stops.
    agent->sendFile(0, writeFile(QStringLiteral("mcu.bin"), QByteArray(10, 'x')));
    agent->stop();
    QTRY_VERIFY(logged("DeviceAgent: Trying to stop, but not running."));
    QVERIFY(logged("DeviceAgent: trying to send file but not connected."));
    QCoreApplication::processEvents();
    QCOMPARE(signalsSeen, (QStringList { "ready", "disconnected" }));
}

void TestDeviceAgent::disconnectionWhileRetryingEndsInFailure()
{
    startAgentOnSilentDevice();
    QTRY_VERIFY_WITH_TIMEOUT(bus->openCount(devicePath) >= 2, 5000);

    // Without a link the disconnection is not noticed; the next attempt cannot open the path.
    bus->unplug(devicePath);
    emit monitor.disconnected(QString::fromLatin1(devicePath));
    QTRY_COMPARE_WITH_TIMEOUT(signalsSeen, QStringList { "failure" }, 5000);
    QVERIFY(logged("DeviceAgent: Failed to connect. Error: 2"));
    QVERIFY(!logged("Device Agent: disconnected."));
}

void TestDeviceAgent::deletionStopsRunningTransfer()
{
    FakeHidBackend::DeviceScript script;
    script.writeDelayMs = 20;
    connectAgent(Plus, script);
    const int packets = 400;
    const QString path = writeFile(QStringLiteral("mcu.bin"), QByteArray(56 * packets - 1, '\x22'));
    QSignalSpy progress(agent.get(), &DeviceAgent::progress);
    agent->sendFile(0, path);
    QVERIFY(progress.wait(5000));

    const int writesBefore = bus->writtenReports(devicePath).size();
    QElapsedTimer clock;
    clock.start();
    agent.reset();
    // The transfer gives up at the packet after the interruption request, so the join is quick.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));

    const QList<QByteArray> reports = bus->writtenReports(devicePath);
    QVERIFY2(reports.size() - writesBefore <= 2, qPrintable(QString::number(reports.size() - writesBefore)));
    QVERIFY(reports.size() < packets);
    // A stopped stream gets no end packet.
    for (const QByteArray& report : reports.mid(1))
        QCOMPARE(FakeHidBackend::commandOf(report), 0x0004u);
    QCOMPARE(bus->openHandles(), 0);
}

void TestDeviceAgent::deletionEndsReadyCheckPromptly_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("Pelk") << int(Base);
    QTest::newRow("Pelk+") << int(Plus);
}

void TestDeviceAgent::deletionEndsReadyCheckPromptly()
{
    QFETCH(int, model);

    connectAgent(model);
    agent->checkReadyForUpdate();
    if (model == Plus) {
        QTRY_VERIFY_WITH_TIMEOUT(bus->readyQueryCount(devicePath) >= 2, 5000);
    } else {
        // The original model's check is silent until its end; give the worker time to enter it.
        QTest::qWait(300);
    }

    QElapsedTimer clock;
    clock.start();
    agent.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    // Ended without an answer.
    QVERIFY(!logged("DeviceAgent: Original Pelk: Assumed ready after 3 sec."));
    QVERIFY(!logged("DeviceAgent: timed out checking whether device ready for update. Assuming ready."));
    QCOMPARE(bus->openHandles(), 0);
}

void TestDeviceAgent::workerHandlesItsOwnEvents()
{
    bus->plug(devicePath, 0x0042);
    DeviceAgentWorker worker(Connection(QString::fromLatin1(devicePath), Base, QString()));
    QSignalSpy ready(&worker, &DeviceAgentWorker::ready);
    QSignalSpy stopped(&worker, &DeviceAgentWorker::stopped);

    QCoreApplication::postEvent(&worker, new QEvent(DeviceAgentWorker::StartEvent));
    QTRY_COMPARE(ready.count(), 1);
    QCOMPARE(ready.first().first().value<DeviceInfo>().model, int(Base));

    // A connect request while connected opens nothing; an unknown event is left to QObject.
    QCoreApplication::postEvent(&worker, new QEvent(DeviceAgentWorker::ConnectEvent));
    QCoreApplication::postEvent(&worker, new QEvent(static_cast<QEvent::Type>(QEvent::User + 50)));
    QCoreApplication::postEvent(&worker, new QEvent(DeviceAgentWorker::StopEvent));
    QTRY_COMPARE(stopped.count(), 1);
    QVERIFY(logged("DeviceAgent: trying to connect, but already connected."));
    QCOMPARE(bus->openCount(devicePath), 1);
    QCOMPARE(bus->openHandles(), 0);
    QCOMPARE(ready.count(), 1);
}

PELK_TEST_MAIN(TestDeviceAgent, PelkPlus::ConsoleTest)

#include "tst_DeviceAgent.moc"
