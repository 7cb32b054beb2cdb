// Downloads a large file from a local static HTTP server and prints the throughput and how much
// the process's peak memory grew: the download agent writes each chunk as it arrives, so the
// growth stays far below the file size.
#include "update/DownloadAgent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

long peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int megabytes = argc > 1 ? QByteArray(argv[1]).toInt() : 256;
    QTemporaryDir served;
    QTemporaryDir target;
    {
        QFile file(served.filePath(QStringLiteral("component.bin")));
        file.open(QIODevice::WriteOnly);
        file.resize(qint64(megabytes) << 20);
    }
    const quint16 port = freePort();
    QProcess server;
    server.start(QStringLiteral("python3"),
        { QStringLiteral("-m"), QStringLiteral("http.server"), QStringLiteral("--bind"),
            QStringLiteral("127.0.0.1"), QString::number(port), QStringLiteral("--directory"),
            served.path() });
    server.waitForStarted();
    QThread::msleep(700);

    PelkPlus::DownloadAgent agent;
    PelkPlus::DownloadRequest request;
    request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/component.bin").arg(port));
    request.destination = target.filePath(QStringLiteral("component.bin"));
    const long before = peakResidentKiB();
    QElapsedTimer clock;
    int progressSignals = 0;
    QObject::connect(
        &agent, &PelkPlus::DownloadAgent::progress, &agent, [&progressSignals] { ++progressSignals; });
    QObject::connect(&agent, &PelkPlus::DownloadAgent::finished, &application, [&] {
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf(
            "Downloaded %d MiB in %.2f s = %.1f MiB/s, %d progress signals, peak memory grew by %ld KiB "
            "(file size %d KiB)\n",
            megabytes, seconds, megabytes / seconds, progressSignals, peakResidentKiB() - before,
            megabytes << 10);
        QCoreApplication::quit();
    });
    QObject::connect(&agent, &PelkPlus::DownloadAgent::failed, &application, [](const QString& reason) {
        std::printf("Download failed: %s\n", qPrintable(reason));
        QCoreApplication::exit(1);
    });
    clock.start();
    agent.download(request);
    const int result = application.exec();
    server.kill();
    server.waitForFinished();
    return result;
}
