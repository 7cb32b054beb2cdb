#include "update/DownloadAgent.h"

#include "support/HttpTestServer.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace PelkPlus;

Q_DECLARE_METATYPE(PelkPlus::HttpTestServer::Reply)

namespace {
using Headers = QList<QPair<QByteArray, QByteArray>>;
using Replies = QList<PelkPlus::HttpTestServer::Reply>;
} // namespace

namespace {

QByteArray pattern(int size, int seed = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7 + (i >> 8)) & 0xff);
    return data;
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_DownloadAgent : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void emptyBatch();
    void singleFile();
    void logsEachRequest();
    void batchProgressOrder();
    void progressFractions_data();
    void progressFractions();
    void httpStatusFails_data();
    void httpStatusFails();
    void redirectsFollowed_data();
    void redirectsFollowed();
    void redirectLoopFails();
    void bodyShorterThanAnnounced();
    void stalledBodyTimesOut_data();
    void stalledBodyTimesOut();
    void slowChunksAreNotAStall();
    void busyAgentRefusesSecondBatch();
    void failureStopsBatchAndKeepsEarlierFiles();
    void destinationCannotBeOpened();
    void failedWriteFailsBatch();
    void expectedSizeChecked_data();
    void expectedSizeChecked();
    void maximumSizeStopsDownload();
    void newBatchFromFailedHandler();
    void asksForIdentityEncoding();
    void destructionWhileRunning();
    void retriesResumesAndDigests_data();
    void retriesResumesAndDigests();
    void changedFileNeverSpliced_data();
    void changedFileNeverSpliced();
    void slowServersBounded_data();
    void slowServersBounded();
    void productionSlowServerBounds();
    void filesCreatedOwnerOnly();
    void passwordNeverLogged_data();
    void passwordNeverLogged();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    DownloadRequest request(const QString& urlPath, const QString& name, qint64 expectedSize = -1) const;

    std::unique_ptr<HttpTestServer> server;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DownloadAgent> agent;
};

DownloadRequest tst_DownloadAgent::request(
    const QString& urlPath, const QString& name, qint64 expectedSize) const
{
    DownloadRequest r;
    r.url = server->url(urlPath);
    r.destination = path(name);
    r.expectedSize = expectedSize;
    return r;
}

void tst_DownloadAgent::init()
{
    server = std::make_unique<HttpTestServer>();
    QVERIFY(server->listen());
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    agent = std::make_unique<DownloadAgent>();
}

void tst_DownloadAgent::cleanup()
{
    agent.reset();
    server.reset();
    dir.reset();
}

void tst_DownloadAgent::emptyBatch()
{
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(QList<DownloadRequest>());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 0);
    QVERIFY(!agent->isBusy());
}

void tst_DownloadAgent::singleFile()
{
    const QByteArray body = pattern(300000);
    server->setFile(QStringLiteral("/mcu.bin"), body);
    QFile old(path(QStringLiteral("mcu.bin")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(500000, 'o'));
    old.close();

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/mcu.bin"), QStringLiteral("mcu.bin")));
    QVERIFY(agent->isBusy());
    QVERIFY(finished.wait());
    QCOMPARE(failed.count(), 0);
    QVERIFY(!agent->isBusy());
    // The old, longer file is overwritten, not patched.
    QCOMPARE(fileContents(path(QStringLiteral("mcu.bin"))), body);
    QCOMPARE(agent->lastDigest(), QCryptographicHash::hash(body, QCryptographicHash::Sha256));
}

void tst_DownloadAgent::logsEachRequest()
{
    server->setFile(QStringLiteral("/dsp.hex"), pattern(10));
    const DownloadRequest dsp = request(QStringLiteral("/dsp.hex"), QStringLiteral("dsp.hex"));

    // The stream separates the indented words from their values by a blank of its own.
    QTest::ignoreMessage(QtDebugMsg, "DownloadAgent: Downloading:");
    QTest::ignoreMessage(
        QtDebugMsg, qPrintable(QStringLiteral("  from  QUrl(\"%1\")").arg(dsp.url.toString())));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("  to  \"%1\"").arg(dsp.destination)));
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    agent->download(dsp);
    QVERIFY(finished.wait());
}

void tst_DownloadAgent::batchProgressOrder()
{
    QList<DownloadRequest> batch;
    QList<QByteArray> bodies;
    for (int i = 0; i < 3; ++i) {
        HttpTestServer::Reply reply;
        reply.body = pattern(40000 + i * 1000, i);
        reply.chunkSize = 8000;
        reply.chunkDelay = 10;
        bodies.append(reply.body);
        server->setReply(QStringLiteral("/f%1").arg(i), reply);
        batch.append(request(QStringLiteral("/f%1").arg(i), QStringLiteral("f%1").arg(i)));
    }

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy progress(agent.get(), &DownloadAgent::progress);
    int finishedWhileProgress = 0;
    connect(agent.get(), &DownloadAgent::progress, this, [&] { finishedWhileProgress += finished.count(); });
    agent->download(batch);
    QVERIFY(finished.wait());
    QTRY_COMPARE(server->totalRequests(), 3);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finishedWhileProgress, 0);

    int lastIndex = 0;
    QList<float> lastFraction { -1, -1, -1 };
    for (const QList<QVariant>& args : progress) {
        const int index = args.at(0).toInt();
        const float fraction = args.at(1).toFloat();
        QVERIFY2(index >= lastIndex, "progress went back to an earlier request");
        QVERIFY(index >= 0 && index < 3);
        if (index == lastIndex)
            QVERIFY(fraction >= lastFraction[index]);
        lastIndex = index;
        lastFraction[index] = fraction;
    }
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(lastFraction[i], 1.0f);
        QCOMPARE(fileContents(path(QStringLiteral("f%1").arg(i))), bodies.at(i));
    }
}

void tst_DownloadAgent::progressFractions_data()
{
    QTest::addColumn<bool>("sendLength");
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<float>>("allowed");

    QTest::newRow("known size") << true << 4000 << QList<float> { 0.25f, 0.5f, 0.75f, 1.0f };
    QTest::newRow("no size") << false << 4000 << QList<float> { 0.0f };
    QTest::newRow("zero size") << true << 0 << QList<float> { 1.0f };
}

void tst_DownloadAgent::progressFractions()
{
    QFETCH(bool, sendLength);
    QFETCH(int, size);
    QFETCH(QList<float>, allowed);

    // The framework reports progress at most every 100 ms, so the chunks come further apart.
    HttpTestServer::Reply reply;
    reply.body = pattern(size);
    reply.sendContentLength = sendLength;
    reply.chunkSize = 1000;
    reply.chunkDelay = 150;
    server->setReply(QStringLiteral("/p"), reply);

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy progress(agent.get(), &DownloadAgent::progress);
    agent->download(request(QStringLiteral("/p"), QStringLiteral("p")));
    QVERIFY(finished.wait());
    QCOMPARE(fileContents(path(QStringLiteral("p"))), reply.body);

    QList<float> fractions;
    for (const QList<QVariant>& args : progress) {
        QCOMPARE(args.at(0).toInt(), 0);
        const float fraction = args.at(1).toFloat();
        if (fractions.isEmpty() || fractions.last() != fraction)
            fractions.append(fraction);
    }
    QVERIFY(!fractions.isEmpty());
    if (!sendLength) {
        // Without a size every report in flight says 0; only the framework's final report, which
        // knows the total by then, may say more.
        fractions.removeLast();
        QVERIFY(!fractions.isEmpty());
    } else {
        QCOMPARE(fractions.last(), 1.0f);
        if (size > 0)
            QVERIFY2(fractions.size() >= 2, "the chunks should have been reported one by one");
    }
    for (int i = 0; i < fractions.size(); ++i) {
        QVERIFY2(allowed.contains(fractions.at(i)) || fractions.at(i) == 0.0f,
            qPrintable(QString::number(fractions.at(i))));
        if (i > 0)
            QVERIFY(fractions.at(i) > fractions.at(i - 1));
    }
    if (!sendLength)
        QCOMPARE(fractions, QList<float> { 0.0f });
}

void tst_DownloadAgent::httpStatusFails_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("contentType");

    QTest::newRow("404") << 404 << QByteArray() << "HTTP 404 Not Found" << QByteArray();
    QTest::newRow("403") << 403 << QByteArray() << "HTTP 403 Forbidden" << QByteArray();
    QTest::newRow("500") << 500 << QByteArray() << "HTTP 500 Internal Server Error" << QByteArray();
    QTest::newRow("503 with own phrase")
        << 503 << QByteArray("Down For Maintenance") << "HTTP 503 Down For Maintenance" << QByteArray();
    QTest::newRow("300 not followed")
        << 300 << QByteArray("Multiple Choices") << "HTTP 300 Multiple Choices" << QByteArray();
    QTest::newRow("304 without location")
        << 304 << QByteArray("Not Modified") << "HTTP 304 Not Modified" << QByteArray();
    // A device image answered by a login page, whatever the status.
    const QString webPage
        = QStringLiteral("The server sent a web page instead of the file (a network login page "
                         "may be in the way); nothing of it is used.");
    QTest::newRow("image answered as text/html") << 200 << QByteArray() << webPage << QByteArray("text/html");
    QTest::newRow("image that begins as a page") << 200 << QByteArray() << webPage << QByteArray();
}

void tst_DownloadAgent::httpStatusFails()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(QString, expected);
    QFETCH(QByteArray, contentType);

    HttpTestServer::Reply reply;
    reply.status = status;
    reply.reason = reason;
    if (!contentType.isEmpty())
        reply.headers.append({ "Content-Type", contentType });
    reply.body = status == 304 ? QByteArray() : QByteArray("<html>error page</html>");
    server->setReply(QStringLiteral("/file"), reply);

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    DownloadRequest image = request(QStringLiteral("/file"), QStringLiteral("file"));
    image.refuseWebPage = true;
    agent->download(image);
    QVERIFY(failed.wait());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), expected);
    QVERIFY(!finished.wait(100));
    QVERIFY(!agent->isBusy());
    // The error page never becomes the file, and no empty file is left to be taken for it.
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("file"))));
}

void tst_DownloadAgent::redirectsFollowed_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("hops");
    QTest::newRow("302") << 302 << 1;
    QTest::newRow("301") << 301 << 1;
    QTest::newRow("307") << 307 << 1;
    QTest::newRow("308") << 308 << 1;
    QTest::newRow("five hops") << 302 << 5;
}

void tst_DownloadAgent::redirectsFollowed()
{
    QFETCH(int, status);
    QFETCH(int, hops);

    const QByteArray body = pattern(70000);
    server->setFile(QStringLiteral("/final.bin"), body);
    for (int i = 0; i < hops; ++i) {
        const QString next
            = i + 1 < hops ? QStringLiteral("/hop%1").arg(i + 1) : QStringLiteral("/final.bin");
        // Relative and absolute locations alike.
        server->setRedirect(
            QStringLiteral("/hop%1").arg(i), i % 2 ? server->url(next).toString() : next, status);
    }

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/hop0"), QStringLiteral("final.bin")));
    QVERIFY(finished.wait());
    QCOMPARE(failed.count(), 0);
    QCOMPARE(fileContents(path(QStringLiteral("final.bin"))), body);
    QCOMPARE(server->requestCount(QStringLiteral("/final.bin")), 1);
}

void tst_DownloadAgent::redirectLoopFails()
{
    server->setRedirect(QStringLiteral("/a"), QStringLiteral("/b"));
    server->setRedirect(QStringLiteral("/b"), QStringLiteral("/a"));

    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/a"), QStringLiteral("loop")));
    QVERIFY(failed.wait());
    QVERIFY(!failed.first().first().toString().isEmpty());
    // Bounded: the first request, the allowed hops and the framework's one look beyond them. The
    // framework sends a request again when the server closed the connection it meant to reuse, so
    // a repeat of the same path right after itself is one hop.
    int hops = 0;
    QString previous;
    for (const HttpTestServer::Request& sent : server->requests()) {
        if (sent.path != previous)
            ++hops;
        previous = sent.path;
    }
    QVERIFY2(hops <= DownloadAgent::maximumRedirects + 2, qPrintable(QString::number(hops)));
    QVERIFY(!agent->isBusy());
}

void tst_DownloadAgent::bodyShorterThanAnnounced()
{
    HttpTestServer::Reply reply;
    reply.body = pattern(5000);
    reply.contentLength = 9000;
    server->setReply(QStringLiteral("/short"), reply);

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/short"), QStringLiteral("short")));
    QVERIFY(failed.wait());
    QCOMPARE(finished.count(), 0);
    // What did arrive stays on disk, and is no more than was sent.
    QVERIFY(fileContents(path(QStringLiteral("short"))).size() <= 5000);
}

void tst_DownloadAgent::stalledBodyTimesOut_data()
{
    QTest::addColumn<bool>("silent");
    QTest::newRow("stall inside the body") << false;
    QTest::newRow("no answer at all") << true;
}

void tst_DownloadAgent::stalledBodyTimesOut()
{
    QFETCH(bool, silent);
    HttpTestServer::Reply reply;
    reply.body = pattern(10000);
    reply.stallAfter = 3000;
    reply.silent = silent;
    server->setReply(QStringLiteral("/stall"), reply);

    agent->setTransferTimeout(300);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/stall"), QStringLiteral("stall")));
    QVERIFY(failed.wait(5000));
    // The framework's text, then what it means here.
    QCOMPARE(failed.first().first().toString(),
        QStringLiteral("Operation canceled (No data received for 0.3 s.)"));
    QVERIFY(!agent->isBusy());
}

void tst_DownloadAgent::slowChunksAreNotAStall()
{
    HttpTestServer::Reply reply;
    reply.body = pattern(10000);
    reply.chunkSize = 1000;
    reply.chunkDelay = 60;
    server->setReply(QStringLiteral("/slow"), reply);

    // The whole transfer takes twice the time-out; only a pause as long as it counts.
    agent->setTransferTimeout(300);
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/slow"), QStringLiteral("slow")));
    QVERIFY(finished.wait(5000));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(fileContents(path(QStringLiteral("slow"))), reply.body);
}

void tst_DownloadAgent::busyAgentRefusesSecondBatch()
{
    HttpTestServer::Reply reply;
    reply.body = pattern(5000);
    reply.delay = 100;
    server->setReply(QStringLiteral("/first"), reply);
    server->setFile(QStringLiteral("/second"), "second");

    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/first"), QStringLiteral("first")));
    QTest::ignoreMessage(QtCriticalMsg, "Already active.");
    agent->download(request(QStringLiteral("/second"), QStringLiteral("second")));
    QVERIFY(finished.wait());
    QVERIFY(!finished.wait(100));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(fileContents(path(QStringLiteral("first"))), reply.body);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("second"))));
    QCOMPARE(server->requestCount(QStringLiteral("/second")), 0);
}

void tst_DownloadAgent::failureStopsBatchAndKeepsEarlierFiles()
{
    server->setFile(QStringLiteral("/one"), pattern(2000, 1));
    server->setFile(QStringLiteral("/three"), pattern(2000, 3));
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    QSignalSpy progress(agent.get(), &DownloadAgent::progress);
    agent->download({ request(QStringLiteral("/one"), QStringLiteral("one")),
        request(QStringLiteral("/two"), QStringLiteral("two")),
        request(QStringLiteral("/three"), QStringLiteral("three")) });
    QVERIFY(failed.wait());
    QCOMPARE(failed.first().first().toString(), QStringLiteral("HTTP 404 Not Found"));
    QVERIFY(!failed.wait(100));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(fileContents(path(QStringLiteral("one"))), pattern(2000, 1));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("three"))));
    QCOMPARE(server->requestCount(QStringLiteral("/three")), 0);
    for (const QList<QVariant>& args : progress)
        QVERIFY(args.at(0).toInt() <= 1);
}

void tst_DownloadAgent::destinationCannotBeOpened()
{
    server->setFile(QStringLiteral("/one"), "one");
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/one"), QStringLiteral("missing-dir/one")));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), QStringLiteral("Failed to open destination file."));
    QCOMPARE(server->totalRequests(), 0);
    QVERIFY(!agent->isBusy());
}

void tst_DownloadAgent::failedWriteFailsBatch()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("Needs /dev/full to stand for a full disk");
    server->setFile(QStringLiteral("/image"), pattern(100000));
    server->setFile(QStringLiteral("/next"), "next");
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    DownloadRequest full = request(QStringLiteral("/image"), QString());
    full.destination = QStringLiteral("/dev/full");
    agent->download({ full, request(QStringLiteral("/next"), QStringLiteral("next")) });
    QVERIFY(failed.wait());
    QVERIFY2(failed.first().first().toString().startsWith(QStringLiteral("Failed to write destination file")),
        qPrintable(failed.first().first().toString()));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(server->requestCount(QStringLiteral("/next")), 0);
}

void tst_DownloadAgent::expectedSizeChecked_data()
{
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown") << qint64(-1) << true << QString();
    QTest::newRow("equal") << qint64(6000) << true << QString();
    QTest::newRow("announced larger") << qint64(6001) << false << "Received 6000 bytes, expected 6001.";
    // Stopped the moment the file would pass the announced size.
    QTest::newRow("announced smaller")
        << qint64(5999) << false << "Download exceeds the announced 5999 bytes.";
    QTest::newRow("announced empty") << qint64(0) << false << "Download exceeds the announced 0 bytes.";
}

void tst_DownloadAgent::expectedSizeChecked()
{
    QFETCH(qint64, expected);
    QFETCH(bool, ok);
    QFETCH(QString, reason);
    server->setFile(QStringLiteral("/dsp.hex"), pattern(6000));
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/dsp.hex"), QStringLiteral("dsp.hex"), expected));
    QTRY_COMPARE(finished.count() + failed.count(), 1);
    QCOMPARE(finished.count(), ok ? 1 : 0);
    if (!ok)
        QCOMPARE(failed.first().first().toString(), reason);
}

void tst_DownloadAgent::maximumSizeStopsDownload()
{
    HttpTestServer::Reply reply;
    reply.body = pattern(200000);
    reply.sendContentLength = false;
    reply.chunkSize = 10000;
    server->setReply(QStringLiteral("/endless"), reply);
    DownloadRequest r = request(QStringLiteral("/endless"), QStringLiteral("endless"));
    r.maximumSize = 50000;
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(r);
    QVERIFY(failed.wait());
    QCOMPARE(failed.first().first().toString(), QStringLiteral("Download exceeds 50000 bytes."));
    QVERIFY(QFileInfo(path(QStringLiteral("endless"))).size() <= 50000);
}

void tst_DownloadAgent::newBatchFromFailedHandler()
{
    server->setFile(QStringLiteral("/good"), "good");
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    bool retried = false;
    connect(agent.get(), &DownloadAgent::failed, this, [&] {
        QVERIFY(!agent->isBusy());
        if (!retried) {
            retried = true;
            agent->download(request(QStringLiteral("/good"), QStringLiteral("good")));
        }
    });
    agent->download(request(QStringLiteral("/bad"), QStringLiteral("bad")));
    QVERIFY(finished.wait());
    QVERIFY(retried);
    QCOMPARE(fileContents(path(QStringLiteral("good"))), QByteArray("good"));
}

void tst_DownloadAgent::asksForIdentityEncoding()
{
    server->setFile(QStringLiteral("/x"), "x");
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    agent->download(request(QStringLiteral("/x"), QStringLiteral("x")));
    QVERIFY(finished.wait());
    QCOMPARE(server->requests().first().headers.value("accept-encoding"), QByteArray("identity"));
}

void tst_DownloadAgent::destructionWhileRunning()
{
    HttpTestServer::Reply reply;
    reply.body = pattern(10000);
    reply.stallAfter = 100;
    server->setReply(QStringLiteral("/stall"), reply);
    QSignalSpy requestSeen(server.get(), &HttpTestServer::requestReceived);
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(request(QStringLiteral("/stall"), QStringLiteral("stall")));
    QVERIFY(requestSeen.wait());
    agent.reset();
    QTest::qWait(50);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 0);
}

void tst_DownloadAgent::retriesResumesAndDigests_data()
{
    QTest::addColumn<HttpTestServer::Reply>("reply");
    QTest::addColumn<QByteArray>("file"); // what the publisher listed; its digest is expected
    QTest::addColumn<int>("requests");
    QTest::addColumn<QByteArray>("lastRange"); // the Range header of the last request
    QTest::addColumn<QString>("failure");      // empty when the file must arrive byte for byte

    const QByteArray file = pattern(300000, 4);
    HttpTestServer::Reply whole;
    whole.body = file;
    HttpTestServer::Reply tampered = whole;
    tampered.body[150000] = char(tampered.body.at(150000) ^ 1);
    HttpTestServer::Reply cut = whole;
    cut.closeAfter = 120000;
    cut.ranges = true;
    // Only a file the server names can be resumed.
    cut.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"v1\"")));
    HttpTestServer::Reply cutTwiceNoRanges = cut;
    cutTwiceNoRanges.ranges = false;
    cutTwiceNoRanges.faultyAnswers = 2;
    HttpTestServer::Reply alwaysCut = cut;
    alwaysCut.faultyAnswers = 100;
    alwaysCut.closeAfter = 50000;
    HttpTestServer::Reply unavailable;
    unavailable.status = 503;
    HttpTestServer::Reply missing;
    missing.status = 404;

    QTest::newRow("digest matches") << whole << file << 1 << QByteArray() << QString();
    QTest::newRow("one byte changed")
        << tampered << file << 1 << QByteArray() << "The file's SHA-256 digest does not match the catalogue.";
    QTest::newRow("cut in the middle, resumed by range")
        << cut << file << 2 << QByteArray("bytes=120000-") << QString();
    // The server ignores the range: the file starts over, and must still come out whole.
    QTest::newRow("resume answered with the whole file")
        << cutTwiceNoRanges << file << 3 << QByteArray("bytes=120000-") << QString();
    QTest::newRow("cut every time") << alwaysCut << file << 1 + DownloadAgent::maximumRetries
                                    << QByteArray("bytes=150000-") << "Connection closed";
    QTest::newRow("server error retried") << unavailable << file << 1 + DownloadAgent::maximumRetries
                                          << QByteArray() << "HTTP 503 Service Unavailable";
    QTest::newRow("client error not retried") << missing << file << 1 << QByteArray() << "HTTP 404 Not Found";
}

void tst_DownloadAgent::retriesResumesAndDigests()
{
    QFETCH(HttpTestServer::Reply, reply);
    QFETCH(QByteArray, file);
    QFETCH(int, requests);
    QFETCH(QByteArray, lastRange);
    QFETCH(QString, failure);

    server->setReply(QStringLiteral("/image"), reply);
    DownloadRequest r = request(QStringLiteral("/image"), QStringLiteral("image"), file.size());
    r.sha256 = QCryptographicHash::hash(file, QCryptographicHash::Sha256);
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    QSignalSpy retrying(agent.get(), &DownloadAgent::retrying);
    agent->download(r);
    QTRY_COMPARE(finished.count() + failed.count(), 1);
    QCOMPARE(server->requestCount(QStringLiteral("/image")), requests);
    // Every retry is told as it is scheduled, numbered, with why, and again as it goes out (the
    // pauses here are below a second: nothing to count down).
    QStringList told;
    for (const QList<QVariant>& text : qAsConst(retrying))
        told.append(text.first().toString().section(QStringLiteral(". "), -1));
    QStringList expected;
    for (int retry = 1; retry < requests; ++retry) {
        expected.append(QStringLiteral("Trying again in 1 s (retry %1 of 3)...").arg(retry));
        expected.append(QStringLiteral("Trying again now (retry %1 of 3)...").arg(retry));
    }
    QCOMPARE(told.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
    QCOMPARE(server->requests().last().headers.value("range"), lastRange);
    if (failure.isEmpty()) {
        QCOMPARE(finished.count(), 1);
        QVERIFY(fileContents(r.destination) == file);
        return;
    }
    QVERIFY2(
        failed.first().first().toString().startsWith(failure), qPrintable(failed.first().first().toString()));
    // Retries run out or not, no partial file is left behind to be taken for the image.
    QVERIFY(!QFileInfo::exists(r.destination));
}

void tst_DownloadAgent::changedFileNeverSpliced_data()
{
    QTest::addColumn<Headers>("validators");    // of the old file's answer; the new one's differ
    QTest::addColumn<Replies>("resumeAnswers"); // broken answers before the new file is served
    QTest::addColumn<bool>("digestListed");     // the catalogue lists the old file's SHA-256
    QTest::addColumn<QByteArray>("ifRange");    // sent with the second request; empty: no Range at all
    QTest::addColumn<int>("requests");

    const Headers etag { { "ETag", "\"v1\"" } };
    const Headers lastModified { { "Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT" } };
    const Headers weakEtag { { "ETag", "W/\"v1\"" }, { "Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT" } };

    // Brokenly resumed answers: a range of the new file passed off as the old one.
    HttpTestServer::Reply ignoring;
    ignoring.ranges = true;
    ignoring.ignoreIfRange = true;
    HttpTestServer::Reply elsewhere;
    elsewhere.status = 206;
    elsewhere.headers = { { "ETag", "\"v1\"" }, { "Content-Range", "bytes 100000-299999/300000" } };
    elsewhere.body = pattern(200000, 9);
    HttpTestServer::Reply otherLength = elsewhere;
    otherLength.headers = { { "ETag", "\"v1\"" }, { "Content-Range", "bytes 120000-309999/310000" } };
    otherLength.body = pattern(190000, 9);

    for (const bool digest : { false, true }) {
        const char* listed = digest ? ", digest listed" : "";
        QTest::addRow("etag%s", listed) << etag << Replies {} << digest << QByteArray("\"v1\"") << 2;
        QTest::addRow("last-modified only%s", listed)
            << lastModified << Replies {} << digest << QByteArray("Mon, 07 Dec 2026 10:00:00 GMT") << 2;
        // A weak ETag promises no identical bytes; the date is used instead.
        QTest::addRow("weak etag%s", listed)
            << weakEtag << Replies {} << digest << QByteArray("Mon, 07 Dec 2026 10:00:00 GMT") << 2;
        QTest::addRow("no validator%s", listed) << Headers {} << Replies {} << digest << QByteArray() << 2;
        QTest::addRow("server ignores if-range%s", listed)
            << etag << Replies { ignoring } << digest << QByteArray("\"v1\"") << 3;
        QTest::addRow("resumed at another byte%s", listed)
            << etag << Replies { elsewhere } << digest << QByteArray("\"v1\"") << 3;
        QTest::addRow("resumed with another length%s", listed)
            << etag << Replies { otherLength } << digest << QByteArray("\"v1\"") << 3;
    }
}

void tst_DownloadAgent::changedFileNeverSpliced()
{
    QFETCH(Headers, validators);
    QFETCH(Replies, resumeAnswers);
    QFETCH(bool, digestListed);
    QFETCH(QByteArray, ifRange);
    QFETCH(int, requests);

    // Republished between the cut and the resume: as long as before, different throughout.
    const QByteArray before = pattern(300000, 1);
    const QByteArray after = pattern(300000, 2);
    HttpTestServer::Reply first;
    first.body = before;
    first.headers = validators;
    first.ranges = true;
    first.closeAfter = 120000;
    HttpTestServer::Reply republished = first;
    republished.body = after;
    republished.closeAfter = -1;
    for (auto& header : republished.headers)
        header.second.replace("v1", "v2").replace("10:00:00", "11:30:00");
    server->setReply(QStringLiteral("/image"), first);
    for (int i = 0; i < resumeAnswers.size(); ++i) {
        HttpTestServer::Reply broken = resumeAnswers.at(i);
        if (broken.body.isEmpty()) {
            broken.body = after;
            broken.headers = republished.headers;
        }
        server->replaceAfter(QStringLiteral("/image"), 1 + i, broken);
    }
    server->replaceAfter(QStringLiteral("/image"), 1 + resumeAnswers.size(), republished);

    agent->setRetryPause(10);
    DownloadRequest r = request(QStringLiteral("/image"), QStringLiteral("image"), before.size());
    if (digestListed)
        r.sha256 = QCryptographicHash::hash(before, QCryptographicHash::Sha256);
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(r);
    QTRY_COMPARE(finished.count() + failed.count(), 1);

    const QList<HttpTestServer::Request> sent = server->requests();
    QCOMPARE(sent.size(), requests);
    QCOMPARE(sent.at(1).headers.value("if-range"), ifRange);
    QCOMPARE(
        sent.at(1).headers.value("range"), ifRange.isEmpty() ? QByteArray() : QByteArray("bytes=120000-"));
    // Once the server showed another file, the whole of it is asked for.
    if (requests > 2)
        QCOMPARE(sent.last().headers.value("range"), QByteArray());
    if (digestListed) {
        // The new file is not the one the catalogue vouched for.
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(),
            QStringLiteral("The file's SHA-256 digest does not match the catalogue."));
        QVERIFY(!QFileInfo::exists(r.destination));
        return;
    }
    QCOMPARE(finished.count(), 1);
    // The new file whole, never the old one's start joined to the new one's end.
    QVERIFY(fileContents(r.destination) == after);
}

void tst_DownloadAgent::slowServersBounded_data()
{
    QTest::addColumn<HttpTestServer::Reply>("reply");
    QTest::addColumn<int>("maximumDuration"); // the agent's; below 0, the request's own instead
    QTest::addColumn<QString>("failure");     // empty: the file arrives
    QTest::addColumn<int>("requests");

    // Bounds of 300 ms at 1 KiB/s stand for 30 s; a total of 700 ms for the catalogue's 120 s.
    HttpTestServer::Reply trickle;
    trickle.body = pattern(20000);
    trickle.chunkSize = 10;
    trickle.chunkDelay = 50; // 200 bytes per second, each byte well within the time-out
    HttpTestServer::Reply stalled;
    stalled.body = pattern(20000);
    stalled.stallAfter = 100;
    HttpTestServer::Reply steady;
    steady.body = pattern(100000);
    steady.chunkSize = 2000;
    steady.chunkDelay = 50; // 40000 bytes per second, two and a half seconds in all

    const int attempts = 1 + DownloadAgent::maximumRetries;
    // %1: the test server as host:port.
    QTest::newRow("trickling body") << trickle << 0 << "The server %1 is too slow: " << attempts;
    QTest::newRow("stalled body") << stalled << 0 << "The server %1 is too slow: " << attempts;
    QTest::newRow("steady body") << steady << 0 << QString() << 1;
    // Fast enough byte by byte, but a catalogue must arrive in time; not tried again.
    QTest::newRow("catalogue over its whole bound")
        << steady << 700 << "The server %1 is too slow: the file did not arrive within 0.7 s." << 1;
    // A component's file is bounded by its own request, where the agent sets no bound.
    QTest::newRow("file over its own bound")
        << steady << -700 << "The server %1 is too slow: the file did not arrive within 0.7 s." << 1;
}

void tst_DownloadAgent::slowServersBounded()
{
    QFETCH(HttpTestServer::Reply, reply);
    QFETCH(int, maximumDuration);
    QFETCH(QString, failure);
    QFETCH(int, requests);

    server->setReply(QStringLiteral("/slow"), reply);
    agent->setSlowServerBounds(300, 1024, qMax(0, maximumDuration));
    agent->setRetryPause(10);
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    QElapsedTimer clock;
    clock.start();
    DownloadRequest slow = request(QStringLiteral("/slow"), QStringLiteral("slow"));
    slow.maximumDuration = qMax(0, -maximumDuration);
    agent->download(slow);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count() + failed.count(), 1, 10000);
    QCOMPARE(server->requestCount(QStringLiteral("/slow")), requests);
    if (failure.isEmpty()) {
        QCOMPARE(finished.count(), 1);
        QCOMPARE(fileContents(path(QStringLiteral("slow"))), reply.body);
        return;
    }
    QVERIFY2(failed.first().first().toString().startsWith(
                 failure.arg(QStringLiteral("127.0.0.1:%1").arg(server->port()))),
        qPrintable(failed.first().first().toString()));
    // Each attempt ends soon after its grace time, not when the server would have finished.
    QVERIFY2(clock.elapsed() < 2000 * requests, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("slow"))));
}

void tst_DownloadAgent::productionSlowServerBounds()
{
    QCOMPARE(DownloadAgent::slowServerGrace, 30000);
    QCOMPARE(DownloadAgent::minimumTransferRate, qint64(1024));
    QCOMPARE(DownloadAgent::maximumCatalogueDuration, 120000);
    // A component agent is bounded by its rate alone.
    QCOMPARE(agent->slowServerGraceTime(), 30000);
    QCOMPARE(agent->minimumRate(), qint64(1024));
    QCOMPARE(agent->maximumDuration(), 0);
}

void tst_DownloadAgent::filesCreatedOwnerOnly()
{
#if defined(Q_OS_WIN)
    QSKIP("Windows keeps downloads private by the profile folder's access list, not by file modes");
#endif
    const QFileDevice::Permissions ownerOnly
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    HttpTestServer::Reply reply;
    reply.body = pattern(50000);
    server->setReply(QStringLiteral("/new"), reply);
    server->setReply(QStringLiteral("/old"), reply);
    // One file left readable by all by an earlier download, one that does not exist yet.
    QFile old(path(QStringLiteral("old")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier");
    old.close();
    QVERIFY(old.setPermissions(ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));

    // Already owner-only when the server is asked, before a byte of it is written.
    QList<QFileDevice::Permissions> whileAsked;
    connect(
        server.get(), &HttpTestServer::requestReceived, this, [&](const QByteArray&, const QString& urlPath) {
            whileAsked.append(QFileInfo(path(urlPath.mid(1))).permissions());
        });
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    agent->download({ request(QStringLiteral("/new"), QStringLiteral("new")),
        request(QStringLiteral("/old"), QStringLiteral("old")) });
    QVERIFY(finished.wait());
    QCOMPARE(whileAsked, (QList<QFileDevice::Permissions> { ownerOnly, ownerOnly }));
    QCOMPARE(QFileInfo(path(QStringLiteral("new"))).permissions(), ownerOnly);
    QCOMPARE(QFileInfo(path(QStringLiteral("old"))).permissions(), ownerOnly);
    QCOMPARE(fileContents(path(QStringLiteral("old"))), reply.body);
}

void tst_DownloadAgent::passwordNeverLogged_data()
{
    QTest::addColumn<HttpTestServer::Reply>("reply");
    HttpTestServer::Reply whole;
    whole.body = pattern(1000);
    HttpTestServer::Reply missing;
    missing.status = 404;
    HttpTestServer::Reply cut = whole;
    cut.closeAfter = 500;
    cut.faultyAnswers = 100;
    QTest::newRow("download") << whole;
    QTest::newRow("http error") << missing;
    QTest::newRow("retried and failed") << cut;
}

void tst_DownloadAgent::passwordNeverLogged()
{
    QFETCH(HttpTestServer::Reply, reply);
    server->setReply(QStringLiteral("/secret"), reply);
    DownloadRequest r = request(QStringLiteral("/secret"), QStringLiteral("secret"));
    r.url.setUserInfo(QStringLiteral("publisher:hunter2"));
    agent->setRetryPause(10);

    QStringList logged;
    static QStringList* sink = nullptr;
    sink = &logged;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { sink->append(message); });
    QSignalSpy finished(agent.get(), &DownloadAgent::finished);
    QSignalSpy failed(agent.get(), &DownloadAgent::failed);
    agent->download(r);
    QTRY_COMPARE(finished.count() + failed.count(), 1);
    qInstallMessageHandler(previous);

    const QString all
        = logged.join(QLatin1Char('\n')) + (failed.isEmpty() ? QString() : failed.first().first().toString());
    QVERIFY2(all.contains(QStringLiteral("/secret")), qPrintable(all));
    QVERIFY2(!all.contains(QStringLiteral("hunter2")) && !all.contains(QStringLiteral("publisher")),
        qPrintable(all));
}

PELK_TEST_MAIN(tst_DownloadAgent, PelkPlus::ConsoleTest)

#include "tst_DownloadAgent.moc"
