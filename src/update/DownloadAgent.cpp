#include "update/DownloadAgent.h"

#include "update/DownloadReplies.h"
#include "update/FileDownload.h"
#include "update/SlowServerGuard.h"

#include <QDebug>

#include <atomic>

namespace PelkPlus {

namespace {

std::atomic<int> defaultPause { DownloadAgent::defaultRetryPause };

} // namespace

DownloadAgent::DownloadAgent(QObject* parent)
    : QObject(parent)
    , transfer(new FileDownload(this))
{
    transfer->setRetryPause(defaultPause);
    transfer->slowServer()->setBounds(slowServerGrace, minimumTransferRate, 0);
    connect(transfer, &FileDownload::progress, this,
        [this](float fraction) { emit progress(currentIndex, fraction); });
    connect(transfer, &FileDownload::retrying, this, &DownloadAgent::retrying);
    connect(transfer, &FileDownload::completed, this, &DownloadAgent::onCompleted);
    connect(transfer, &FileDownload::failed, this, &DownloadAgent::onFailed);
}

DownloadAgent::~DownloadAgent()
{
    transfer->stop(false);
}

void DownloadAgent::setDefaultRetryPause(int msecs)
{
    defaultPause = msecs;
}

QByteArray DownloadAgent::contentType() const
{
    return transfer->contentType();
}

void DownloadAgent::setTransferTimeout(int msecs)
{
    transfer->setTransferTimeout(msecs);
}

int DownloadAgent::transferTimeout() const
{
    return transfer->transferTimeout();
}

void DownloadAgent::setRetryPause(int msecs)
{
    transfer->setRetryPause(msecs);
}

int DownloadAgent::retryPause() const
{
    return transfer->retryPause();
}

void DownloadAgent::setSlowServerBounds(int graceMsecs, qint64 minimumRate, int maximumDuration)
{
    transfer->slowServer()->setBounds(graceMsecs, minimumRate, maximumDuration);
}

int DownloadAgent::slowServerGraceTime() const
{
    return transfer->slowServer()->graceTime();
}

qint64 DownloadAgent::minimumRate() const
{
    return transfer->slowServer()->minimumRate();
}

int DownloadAgent::maximumDuration() const
{
    return transfer->slowServer()->maximumDuration();
}

QByteArray DownloadAgent::lastDigest() const
{
    return transfer->lastDigest();
}

bool DownloadAgent::download(const QList<DownloadRequest>& requests)
{
    if (isBusy()) {
        qCritical("Already active.");
        return false;
    }
    transfer->stop(false);
    pendingRequests = requests;
    currentIndex = -1;
    transfer->clearContentType();
    startNext();
    return true;
}

bool DownloadAgent::download(const DownloadRequest& request)
{
    return download(QList<DownloadRequest> { request });
}

void DownloadAgent::abort()
{
    if (!isBusy())
        return;
    qDebug("DownloadAgent: Download aborted.");
    transfer->stop(true);
    pendingRequests.clear();
}

void DownloadAgent::startNext()
{
    ++currentIndex;
    if (currentIndex >= pendingRequests.size()) {
        transfer->stop(false);
        pendingRequests.clear();
        emit finished();
        return;
    }

    const DownloadRequest& request = pendingRequests.at(currentIndex);
    qDebug("DownloadAgent: Downloading:");
    qDebug() << "  from " << DownloadReplies::redactedUrl(request.url);
    qDebug() << "  to " << request.destination;
    emit requestStarted(currentIndex);
    if (!isBusy())
        return;
    transfer->start(request);
}

void DownloadAgent::onCompleted(const QByteArray& digest)
{
    emit requestFinished(currentIndex, digest);
    if (!isBusy())
        return;
    startNext();
}

void DownloadAgent::onFailed(FailureKind kind, const QString& reason)
{
    lastFailureKind = kind;
    lastFailureText = reason;
    qCritical().noquote() << "DownloadAgent: Download failed:" << reason;
    pendingRequests.clear();
    emit failed(reason);
}

} // namespace PelkPlus
