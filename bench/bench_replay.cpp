// How fast pelk-devsim --replay plays a recording of a whole Ensemble Audio update: builds a
// recording of 250k reports sent a millisecond apart (the bus enumerated once a second meanwhile),
// then plays it as the host would send it (bench_replay [REPORTS] for another size). Prints the play time
// against the recorded time; a replay keeps up with the host while the ratio stays well under 1.
#include "ReplaySession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

int reportCount = 250000;
constexpr int reportsPerEnumeration = 1000;

QByteArray report(int sequence)
{
    QByteArray bytes(65, '\0');
    bytes[1] = char(0xDB);
    bytes[2] = char(0x03);
    bytes[3] = char(0x07);
    bytes[5] = char(56);
    bytes[7] = char(sequence & 0xFF);
    bytes[8] = char((sequence >> 8) & 0xFF);
    for (int i = 9; i < bytes.size(); ++i)
        bytes[i] = char((sequence * 31 + i) & 0xFF);
    return bytes;
}

QByteArray line(double t, const QByteArray& body)
{
    return "{" + body + ",\"t\":" + QByteArray::number(t, 'f', 3) + "}\n";
}

bool writeRecording(const QString& path, double* recordedMs)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray listing = "\"call\":\"enumerate\",\"vendor\":4624,\"product\":0,\"entries\":[{\"path\":"
                               "\"sim/pelk-1\",\"vendor\":4624,\"product\":67,\"serial\":\"PK000001\"}]";
    double t = 0;
    file.write(line(t, listing));
    file.write(line(t, "\"call\":\"open\",\"path\":\"sim/pelk-1\",\"device\":1,\"result\":\"ok\""));
    for (int i = 0; i < reportCount; ++i) {
        t += 1.0;
        if (i % reportsPerEnumeration == 0)
            file.write(line(t, listing));
        file.write(line(t,
            "\"call\":\"write\",\"device\":1,\"result\":65,\"data\":\"" + report(i & 0xFFFF).toHex() + "\""));
    }
    file.write(line(t, "\"call\":\"close\",\"device\":1"));
    *recordedMs = t;
    return file.error() == QFile::NoError;
}

} // namespace

int main(int argc, char** argv)
{
    // bench_replay [REPORTS]: 250000 by default.
    if (argc > 1 && std::atoi(argv[1]) > 0)
        reportCount = std::atoi(argv[1]);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("recording.jsonl"));
    double recordedMs = 0;
    if (!dir.isValid() || !writeRecording(path, &recordedMs)) {
        std::fprintf(stderr, "cannot write the recording\n");
        return EXIT_FAILURE;
    }

    QElapsedTimer clock;
    clock.start();
    PelkPlus::ReplaySession session;
    QString error;
    if (!session.load(path, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return EXIT_FAILURE;
    }
    const qint64 loadMs = clock.restart();
    QByteArray refusal;
    QString mismatch;
    const int device = session.open(QStringLiteral("sim/pelk-1"), &refusal, &mismatch);
    for (int i = 0; i < reportCount && mismatch.isEmpty(); ++i) {
        if (i % reportsPerEnumeration == 0)
            session.enumeration();
        mismatch = session.hostWrote(device, report(i & 0xFFFF)).mismatch;
    }
    session.hostClosed(device);
    const qint64 playMs = clock.elapsed();
    if (!mismatch.isEmpty() || !session.finished()) {
        std::fprintf(stderr, "replay failed: %s\n", qPrintable(mismatch));
        return EXIT_FAILURE;
    }
    std::printf("%d reports, recorded over %.1f s: loaded in %.2f s, played in %.2f s\n",
        session.writesMatched(), recordedMs / 1000.0, loadMs / 1000.0, playMs / 1000.0);
    std::printf("play time / recorded time: %.4f\n", double(playMs) / recordedMs);
    return EXIT_SUCCESS;
}
