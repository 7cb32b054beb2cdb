#include "BusReplay.h"

#include "BusSocket.h"
#include "ReplaySession.h"

#include <QIODevice>

namespace PelkPlus {

BusReplay::BusReplay(QObject* parent)
    : QObject(parent)
{ }

BusReplay::~BusReplay() = default;

bool BusReplay::answers(const QByteArray& line) const
{
    return replay && (line == "ENUM" || line.startsWith("OPEN "));
}

int BusReplay::answer(QIODevice* socket, const QByteArray& line)
{
    if (line == "ENUM") {
        socket->write(replay->enumeration() + '\n');
        hangUpBusSocket(socket);
        return -1;
    }
    const QString path = QString::fromUtf8(line.mid(5));
    QByteArray refusal;
    QString reason;
    const int recorded = replay->open(path, &refusal, &reason);
    if (recorded < 0) {
        socket->write(refusal);
        hangUpBusSocket(socket);
        emit event(QStringLiteral("open of %1 refused as recorded: %2")
                       .arg(path, QString::fromLatin1(refusal.trimmed())));
        if (!reason.isEmpty())
            fail(reason);
        return -1;
    }
    socket->write("OK\n");
    emit event(QStringLiteral("%1: opened (recorded device %2)").arg(path).arg(recorded));
    return recorded;
}

void BusReplay::hostWrote(QIODevice* socket, int device, const QByteArray& report)
{
    const ReplaySession::Answer answer = replay->hostWrote(device, report);
    if (!answer.mismatch.isEmpty()) {
        fail(answer.mismatch);
        abortBusSocket(socket);
        return;
    }
    for (const QByteArray& reply : answer.replies)
        socket->write(reply);
    if (answer.hangUp) {
        emit event(QStringLiteral("recorded device %1: hung up, as recorded").arg(device));
        hangUpBusSocket(socket);
    }
    announceEnd();
}

void BusReplay::hostClosed(int device)
{
    if (!replay)
        return;
    replay->hostClosed(device);
    announceEnd();
}

void BusReplay::fail(const QString& reason)
{
    failed = true;
    emit event(QStringLiteral("replay: ") + reason);
    emit mismatch();
}

void BusReplay::announceEnd()
{
    if (!replay || endAnnounced || failed || !replay->finished())
        return;
    endAnnounced = true;
    emit event(QStringLiteral("replay: the recording played to its end, %1 of %2 reports as recorded")
                   .arg(replay->writesMatched())
                   .arg(replay->writeCount()));
}

} // namespace PelkPlus
