// What verification costs a component download: a 13 MiB file (the largest Ensemble Audio image a
// Pelk+ holds) is fetched from a local HTTP server with and without its SHA-256 to check, in
// alternating rounds, and the medians are compared. Prints the digest time of the file alone and the
// share verification adds to the whole download (the goal is under 5 %), for a server as fast as
// the loopback allows (the digest then competes with nothing but itself) and for one paced to a
// fast real link (the digest then runs while the next bytes are on their way).
//   bench_verify [ROUNDS] [MIB_PER_SECOND]   (defaults 7 and 100, about a gigabit link)
#include "update/DownloadAgent.h"
#include "update/Sha256.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int componentSize = 13 * 1024 * 1024;

// A static file server that sends at most RATE MiB/s (0: as fast as it can).
const char pacedServer[] = R"(
import http.server, os, sys, time
port, rate, root = int(sys.argv[1]), float(sys.argv[2]) * 1048576, sys.argv[3]
class Handler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, target):
        start, sent = time.monotonic(), 0
        while True:
            block = source.read(65536)
            if not block:
                return
            target.write(block)
            sent += len(block)
            ahead = sent / rate - (time.monotonic() - start) if rate else 0
            if ahead > 0:
                time.sleep(ahead)
    def log_message(self, *arguments):
        pass
os.chdir(root)
http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
)";

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Seconds for one download, or -1 when it failed.
double download(PelkPlus::DownloadAgent& agent, const PelkPlus::DownloadRequest& request)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&agent, &PelkPlus::DownloadAgent::finished, &loop, [&] {
        ok = true;
        loop.quit();
    });
    QObject::connect(&agent, &PelkPlus::DownloadAgent::failed, &loop, [&](const QString& reason) {
        std::printf("Download failed: %s\n", qPrintable(reason));
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    agent.download(request);
    loop.exec();
    QObject::disconnect(&agent, nullptr, &loop, nullptr);
    return ok ? clock.nsecsElapsed() / 1e9 : -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 7;
    const double rate = argc > 2 ? QByteArray(argv[2]).toDouble() : 100;
    QTemporaryDir served;
    QTemporaryDir target;
    QByteArray image(componentSize, Qt::Uninitialized);
    quint32 state = 12345;
    for (char& byte : image) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 24);
    }
    {
        QFile file(served.filePath(QStringLiteral("ensemble.flac")));
        file.open(QIODevice::WriteOnly);
        file.write(image);
    }

    std::vector<double> digests;
    QByteArray digest;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        PelkPlus::Sha256 hash;
        hash.addData(image);
        digest = hash.result();
        digests.push_back(clock.nsecsElapsed() / 1e9);
    }
    const double digestTime = median(digests);
    std::printf("13 MiB component, medians of %d rounds\n", rounds);
    std::printf("  SHA-256 of the file alone: %.1f ms (%.0f MiB/s)\n", digestTime * 1e3, 13 / digestTime);

    for (const double pace : { 0.0, rate }) {
        const quint16 port = freePort();
        QProcess server;
        server.start(QStringLiteral("python3"),
            { QStringLiteral("-c"), QString::fromLatin1(pacedServer), QString::number(port),
                QString::number(pace), served.path() });
        server.waitForStarted();
        QThread::msleep(700);

        PelkPlus::DownloadAgent agent;
        PelkPlus::DownloadRequest plain;
        plain.url = QUrl(QStringLiteral("http://127.0.0.1:%1/ensemble.flac").arg(port));
        plain.destination = target.filePath(QStringLiteral("ensemble.flac"));
        plain.expectedSize = componentSize;
        PelkPlus::DownloadRequest verified = plain;
        verified.sha256 = digest;

        download(agent, plain); // warms the server and the page cache
        std::vector<double> without;
        std::vector<double> with;
        for (int i = 0; i < rounds; ++i) {
            const double a = download(agent, plain);
            const double b = download(agent, verified);
            if (a < 0 || b < 0)
                return 1;
            without.push_back(a);
            with.push_back(b);
        }
        server.kill();
        server.waitForFinished();

        const double plainTime = median(without);
        const double verifiedTime = median(with);
        std::printf("  %s: download %.1f ms, verified %.1f ms: verification adds %+.1f %% (goal < 5 %%)\n",
            pace > 0 ? qPrintable(QStringLiteral("server paced to %1 MiB/s").arg(pace))
                     : "loopback at full speed",
            plainTime * 1e3, verifiedTime * 1e3, (verifiedTime - plainTime) / plainTime * 100);
    }
    return 0;
}
