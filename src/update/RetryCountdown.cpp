#include "update/RetryCountdown.h"

#include "update/DownloadReplies.h"

namespace PelkPlus {

RetryCountdown::RetryCountdown(QObject* parent)
    : QObject(parent)
{
    seconds.setInterval(1000);
    connect(&seconds, &QTimer::timeout, this, &RetryCountdown::tick);
}

RetryCountdown::~RetryCountdown() = default;

void RetryCountdown::start(int attempt, int pauseMsecs, const QString& reason)
{
    retry = attempt;
    pauseMs = pauseMsecs;
    why = reason;
    started.start();
    seconds.start();
    emit retrying(DownloadReplies::retryText(retry, pauseMs, why));
}

void RetryCountdown::tick()
{
    const qint64 left = pauseMs - started.elapsed();
    // The last second is "now", said when the request goes out.
    if (left < 500) {
        seconds.stop();
        return;
    }
    emit retrying(DownloadReplies::retryText(retry, int(left), why));
}

void RetryCountdown::finish()
{
    if (!started.isValid())
        return;
    stop();
    emit retrying(DownloadReplies::retryText(retry, 0, why));
}

void RetryCountdown::stop()
{
    seconds.stop();
    started.invalidate();
}

} // namespace PelkPlus
