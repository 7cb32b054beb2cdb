#include "update/SlowServerGuard.h"

#include "update/DownloadReplies.h"

#include <QTimer>

namespace PelkPlus {

SlowServerGuard::SlowServerGuard(QObject* parent)
    : QObject(parent)
    , rateTimer(new QTimer(this))
{
    connect(rateTimer, &QTimer::timeout, this, &SlowServerGuard::check);
}

SlowServerGuard::~SlowServerGuard() = default;

void SlowServerGuard::setBounds(int graceMsecs, qint64 minimumRate, int maximumDuration)
{
    grace = graceMsecs;
    minimumBytesPerSecond = minimumRate;
    maximumDurationMs = maximumDuration;
}

void SlowServerGuard::startRequest(int requestBound, const QString& server)
{
    requestBoundMs = requestBound > 0 && (maximumDurationMs <= 0 || requestBound < maximumDurationMs)
        ? requestBound
        : maximumDurationMs;
    requestServer = server;
    requestClock.start();
}

QString SlowServerGuard::tooLongText() const
{
    return DownloadReplies::tooLongText(
        requestServer, QStringLiteral("the file did not arrive"), requestBoundMs);
}

bool SlowServerGuard::isOverDuration() const
{
    return requestBoundMs > 0 && requestClock.elapsed() >= requestBoundMs;
}

void SlowServerGuard::startReply()
{
    replyBytes = 0;
    replyClock.start();
    rateTimer->start(qBound(10, grace / 10, 1000));
}

void SlowServerGuard::stopReply()
{
    rateTimer->stop();
}

void SlowServerGuard::check()
{
    if (isOverDuration()) {
        emit tooLong(tooLongText());
        return;
    }
    const qint64 elapsed = replyClock.elapsed();
    if (elapsed >= grace && replyBytes * 1000 < minimumBytesPerSecond * elapsed)
        emit tooSlow(DownloadReplies::tooSlowText(requestServer, replyBytes, elapsed, minimumBytesPerSecond));
}

} // namespace PelkPlus
