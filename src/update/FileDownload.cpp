#include "update/FileDownload.h"

#include "update/CatalogueHeader.h"
#include "update/DownloadAgent.h"
#include "update/DownloadReplies.h"
#include "update/SlowServerGuard.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

namespace PelkPlus {

namespace {

QString webPageText()
{
    return QStringLiteral(
        "The server sent a web page instead of the file (a network login page may be in the "
        "way); nothing of it is used.");
}

} // namespace

FileDownload::FileDownload(QObject* parent)
    : QObject(parent)
    , network(new QNetworkAccessManager(this))
    , retryTimer(new QTimer(this))
    , transferTimeoutMs(DownloadAgent::defaultTransferTimeout)
    , retryPauseMs(DownloadAgent::defaultRetryPause)
    , guard(new SlowServerGuard(this))
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, [this] {
        countdown.finish();
        sendRequest();
    });
    connect(&countdown, &RetryCountdown::retrying, this, &FileDownload::retrying);
    connect(guard, &SlowServerGuard::tooLong, this, [this](const QString& text) {
        if (currentReply)
            fail(DownloadFailure::TooSlow, text);
    });
    connect(guard, &SlowServerGuard::tooSlow, this, [this](const QString& text) {
        if (currentReply)
            retryOrFail(DownloadFailure::Network, text, true);
    });
}

FileDownload::~FileDownload()
{
    releaseReply();
    destination.release();
}

void FileDownload::start(const DownloadRequest& next)
{
    request = next;
    retries.reset();
    heldFile.clear();
    guard->startRequest(request.maximumDuration, DownloadReplies::displayServer(request.url));
    if (!destination.open(request.destination)) {
        // What is there (if anything) was not written here, so it is not removed either.
        fail(DownloadFailure::FileError, QStringLiteral("Failed to open destination file."), false);
        return;
    }
    // A device image is fetched over the web and nothing else: no local file, no resource.
    if (request.requireLength && !DownloadReplies::isHttp(request.url)) {
        fail(DownloadFailure::Refused, QStringLiteral("Only http and https downloads are allowed."));
        return;
    }
    sendRequest();
}

void FileDownload::stop(bool removeFile)
{
    retryTimer->stop();
    countdown.stop();
    releaseReply();
    if (removeFile)
        destination.remove();
    destination.release();
}

void FileDownload::sendRequest()
{
    if (!destination.isHeld())
        return;
    if (guard->isOverDuration()) {
        fail(DownloadFailure::TooSlow, guard->tooLongText());
        return;
    }
    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    networkRequest.setMaximumRedirectsAllowed(DownloadAgent::maximumRedirects);
    networkRequest.setTransferTimeout(transferTimeoutMs);
    // The file must arrive byte for byte as the server keeps it, with the size its HEAD announced.
    networkRequest.setRawHeader("Accept-Encoding", "identity");
    if (destination.size() > 0 && heldFile.isEmpty()) {
        // Nothing tells whether the server still has the file whose first bytes are held; joining
        // the rest of another file to them would make an image no publisher ever made.
        qDebug("DownloadAgent: The server named no ETag or Last-Modified, so the download starts over.");
        startOver();
    }
    replyOffset = destination.size();
    if (replyOffset > 0) {
        networkRequest.setRawHeader("Range", "bytes=" + QByteArray::number(replyOffset) + '-');
        // A server whose file changed meanwhile answers with the whole new file instead.
        networkRequest.setRawHeader("If-Range", heldFile.ifRange());
    }

    currentReply = network->get(networkRequest);
    // Without a bound the network thread buffers as fast as the server sends, however far the
    // writes to disk lag behind: a fast server would pull a whole image into memory.
    currentReply->setReadBufferSize(DownloadAgent::readBufferSize);
    connect(currentReply, &QNetworkReply::metaDataChanged, this, &FileDownload::onReplyHeaders);
    connect(currentReply, &QIODevice::readyRead, this, &FileDownload::onReplyAvailable);
    connect(currentReply, &QNetworkReply::downloadProgress, this, &FileDownload::onReplyProgress);
    connect(currentReply, &QNetworkReply::errorOccurred, this, &FileDownload::onReplyError);
    connect(currentReply, &QNetworkReply::finished, this, &FileDownload::onReplyComplete);
    guard->startReply();
}

void FileDownload::startOver()
{
    destination.truncate();
    replyOffset = 0;
}

void FileDownload::restartWhole(const QString& reason)
{
    qDebug().noquote() << "DownloadAgent:" << reason << "The download starts over.";
    releaseReply();
    startOver();
    heldFile.clear();
    retryTimer->start(0);
}

void FileDownload::onReplyHeaders()
{
    if (!currentReply || !DownloadReplies::isHttp(currentReply->url()))
        return;
    const int status = DownloadReplies::httpStatus(currentReply);
    // An error answer is final as soon as its headers arrive; its body may never end.
    if (status >= 400) {
        retryOrFail(DownloadFailure::Server, DownloadReplies::httpStatusText(currentReply), status >= 500);
        return;
    }
    if (status < 200 || status > 299)
        return;
    replyContentType = currentReply->rawHeader("Content-Type");
    if (request.refuseWebPage && CatalogueHeader::isWebPage(QByteArray(), replyContentType)) {
        fail(DownloadFailure::Refused, webPageText());
        return;
    }

    if (replyOffset > 0 && status == 206) {
        QString reason;
        if (!heldFile.continuesHeldFile(currentReply, replyOffset, request.expectedSize, &reason)) {
            restartWhole(reason);
            return;
        }
    } else if (status == 206) {
        // Part of a file, though the whole was asked for: not the file.
        retryOrFail(DownloadFailure::Server,
            QStringLiteral("The server sent part of the file instead of the whole."), true);
        return;
    } else {
        if (replyOffset > 0) {
            // The file changed, or the server does not resume: this answer is the file.
            qDebug("DownloadAgent: The server sends the whole file again; starting over.");
            startOver();
        }
        heldFile.remember(currentReply);
    }

    if (request.requireLength && request.expectedSize < 0
        && DownloadReplies::announcedLength(currentReply) < 0 && !DownloadReplies::isChunked(currentReply)) {
        fail(DownloadFailure::Refused,
            QStringLiteral("The server announced no length for the file, so it cannot be known to "
                           "arrive complete."),
            true);
    }
}

void FileDownload::onReplyAvailable()
{
    if (!currentReply || !destination.isHeld())
        return;
    const QByteArray data = currentReply->readAll();
    guard->addBytes(data.size());
    // The body of an error page or of a redirect is not the file.
    const int status = DownloadReplies::httpStatus(currentReply);
    if (DownloadReplies::isHttp(currentReply->url()) && (status < 200 || status > 299))
        return;

    const qint64 bytesWritten = destination.size();
    if (request.refuseWebPage && bytesWritten == 0 && CatalogueHeader::isWebPage(data, QByteArray())) {
        fail(DownloadFailure::Refused, webPageText());
        return;
    }
    if (request.expectedSize >= 0 && bytesWritten + data.size() > request.expectedSize) {
        fail(DownloadFailure::Size,
            QStringLiteral("Download exceeds the announced %1 bytes.").arg(request.expectedSize));
        return;
    }
    if (request.maximumSize >= 0 && bytesWritten + data.size() > request.maximumSize) {
        fail(DownloadFailure::Size, QStringLiteral("Download exceeds %1 bytes.").arg(request.maximumSize));
        return;
    }
    if (!destination.write(data)) {
        fail(DownloadFailure::FileError,
            QStringLiteral("Failed to write destination file: %1").arg(destination.errorString()));
    }
}

void FileDownload::onReplyProgress(qint64 received, qint64 total)
{
    float fraction = 0.0f;
    if (total > 0) {
        // A resumed reply counts what was written before it.
        fraction = static_cast<float>(
            static_cast<double>(replyOffset + received) / static_cast<double>(replyOffset + total));
    } else if (total == 0) {
        fraction = 1.0f;
    }
    emit progress(fraction);
}

void FileDownload::onReplyError(QNetworkReply::NetworkError code)
{
    if (!currentReply)
        return;
    retryOrFail(DownloadFailure::Network, DownloadReplies::failureText(currentReply, transferTimeoutMs),
        DownloadReplies::isTransient(code, DownloadReplies::httpStatus(currentReply)));
}

void FileDownload::onReplyComplete()
{
    if (!currentReply)
        return;
    // A final answer outside 2xx without a network error (a redirect that was not followed, say).
    const int status = DownloadReplies::httpStatus(currentReply);
    if (DownloadReplies::isHttp(currentReply->url()) && (status < 200 || status > 299)) {
        retryOrFail(DownloadFailure::Server, DownloadReplies::httpStatusText(currentReply), status >= 500);
        return;
    }
    // Whatever is still buffered belongs to the file.
    if (currentReply->bytesAvailable() > 0) {
        onReplyAvailable();
        if (!currentReply)
            return;
    }

    const qint64 announced = DownloadReplies::announcedLength(currentReply);
    const qint64 bytesWritten = destination.size();
    const qint64 received = bytesWritten - replyOffset;
    if (announced >= 0 && announced != received) {
        // Cut off on the way: the rest is asked for again.
        retryOrFail(DownloadFailure::Network,
            QStringLiteral("Received %1 of %2 bytes.").arg(received).arg(announced), received < announced);
        return;
    }
    if (request.expectedSize >= 0 && request.expectedSize != bytesWritten) {
        const QString reason
            = QStringLiteral("Received %1 bytes, expected %2.").arg(bytesWritten).arg(request.expectedSize);
        fail(DownloadFailure::Size, reason);
        return;
    }
    digestOfLast = destination.digest();
    if (!request.sha256.isEmpty() && digestOfLast != request.sha256) {
        qCritical() << "DownloadAgent: SHA-256 is" << digestOfLast.toHex() << "instead of"
                    << request.sha256.toHex();
        fail(DownloadFailure::Digest,
            QStringLiteral("The file's SHA-256 digest does not match the catalogue."));
        return;
    }

    if (!destination.close()) {
        fail(DownloadFailure::FileError,
            QStringLiteral("Failed to write destination file: %1").arg(destination.errorString()));
        return;
    }
    destination.release();
    releaseReply();
    emit completed(digestOfLast);
}

void FileDownload::retryOrFail(DownloadFailure kind, const QString& reason, bool transient)
{
    const int pause = transient ? retries.next(retryPauseMs) : -1;
    if (pause < 0) {
        fail(kind, reason);
        return;
    }
    const int attempt = retries.retriesTaken();
    qDebug().noquote() << "DownloadAgent: Retry" << attempt << "of" << DownloadAgent::maximumRetries << "in"
                       << pause / 1000.0 << "s, from byte" << destination.size() << "after:" << reason;
    releaseReply();
    retryTimer->start(pause);
    countdown.start(attempt, pause, reason);
}

void FileDownload::fail(DownloadFailure kind, const QString& reason, bool removeFile)
{
    stop(removeFile);
    emit failed(kind, reason);
}

void FileDownload::releaseReply()
{
    if (!currentReply)
        return;
    // Usually released from inside one of its own signals, so it is deleted later; disconnected
    // first so that nothing more of it reaches the agent. An unfinished reply is aborted so that
    // its connection is not left open.
    guard->stopReply();
    QNetworkReply* reply = currentReply;
    currentReply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
}

} // namespace PelkPlus
