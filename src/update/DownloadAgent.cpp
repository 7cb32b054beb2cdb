#include "update/DownloadAgent.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PelkPlus {

namespace {

std::atomic<int> defaultPause { DownloadAgent::defaultRetryPause };

// The status of an HTTP reply, 0 for anything that did not come over HTTP.
int httpStatus(const QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString httpStatusText(const QNetworkReply* reply)
{
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QString status = QStringLiteral("HTTP %1").arg(httpStatus(reply));
    return reason.isEmpty() ? status : status + QLatin1Char(' ') + reason;
}

bool isHttp(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool isChunked(const QNetworkReply* reply)
{
    return reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
}

// The first byte of a partial answer and the length of the whole file, from
// "bytes <first>-<last>/<total>"; -1 for what is unreadable or, for the total, "*".
void contentRange(const QNetworkReply* reply, qint64* first, qint64* total)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*bytes\\s+(\\d+)-\\d+/(\\d+|\\*)\\s*$"));
    const QRegularExpressionMatch match
        = pattern.match(QString::fromLatin1(reply->rawHeader("Content-Range")));
    bool ok = false;
    *first = match.hasMatch() ? match.captured(1).toLongLong(&ok) : -1;
    if (!ok)
        *first = -1;
    *total = match.hasMatch() ? match.captured(2).toLongLong(&ok) : -1;
    if (!ok)
        *total = -1;
}

// A weak ETag does not promise the same bytes, so it may not be used to resume (If-Range).
QByteArray strongEtag(const QNetworkReply* reply)
{
    const QByteArray etag = reply->rawHeader("ETag").trimmed();
    return etag.startsWith("W/") ? QByteArray() : etag;
}

} // namespace

qint64 DownloadAgent::announcedLength(const QNetworkReply* reply)
{
    const QByteArray raw = reply->rawHeader("Content-Length");
    if (raw.isEmpty())
        return -1;
    bool ok = false;
    const qint64 length = raw.mid(raw.lastIndexOf(',') + 1).trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

QString DownloadAgent::displayUrl(const QUrl& url)
{
    return url.toString(QUrl::RemoveUserInfo);
}

QString DownloadAgent::tooSlowText(qint64 bytes, qint64 msecs, qint64 minimumRate)
{
    return QStringLiteral("The server is too slow: %1 bytes in %2 s, less than %3 bytes per second.")
        .arg(bytes)
        .arg(msecs / 1000.0)
        .arg(minimumRate);
}

QString DownloadAgent::tooLongText(int maximumMsecs)
{
    return QStringLiteral("The server is too slow: the catalogue did not arrive within %1 s.")
        .arg(maximumMsecs / 1000.0);
}

DownloadAgent::DownloadAgent(QObject* parent)
    : QObject(parent)
    , network(new QNetworkAccessManager(this))
    , retryTimer(new QTimer(this))
    , retryPauseMs(defaultPause)
    , rateTimer(new QTimer(this))
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &DownloadAgent::sendRequest);
    connect(rateTimer, &QTimer::timeout, this, &DownloadAgent::checkTransferRate);
}

DownloadAgent::~DownloadAgent()
{
    releaseReply();
    releaseFile();
}

void DownloadAgent::setDefaultRetryPause(int msecs)
{
    defaultPause = msecs;
}

void DownloadAgent::setSlowServerBounds(int graceMsecs, qint64 minimumRate, int maximumDuration)
{
    slowGrace = graceMsecs;
    minimumBytesPerSecond = minimumRate;
    maximumDurationMs = maximumDuration;
}

bool DownloadAgent::isTransient(QNetworkReply::NetworkError code, int status)
{
    if (status >= 500 && status <= 599)
        return true;
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

QString DownloadAgent::failureText(const QNetworkReply* reply, int transferTimeout)
{
    QString detail;
    if (reply->error() == QNetworkReply::OperationCanceledError)
        // Nothing here aborts a running reply; the transfer time-out does.
        detail = QStringLiteral("No data received for %1 s.").arg(transferTimeout / 1000.0);
    else if (httpStatus(reply) >= 300)
        detail = httpStatusText(reply);
    // The framework's text may name the URL, with the password it carries.
    QString text = reply->errorString();
    for (const QUrl& url : { reply->url(), reply->request().url() }) {
        if (!url.userInfo().isEmpty()) {
            for (const QString& named :
                { url.toString(), url.toDisplayString(), url.toString(QUrl::FullyEncoded) })
                text.replace(named, displayUrl(url));
        }
    }
    return detail.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, detail);
}

bool DownloadAgent::download(const QList<DownloadRequest>& requests)
{
    if (isBusy()) {
        qCritical("Already active.");
        return false;
    }
    releaseReply();
    releaseFile();
    pendingRequests = requests;
    currentIndex = -1;
    replyContentType.clear();
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
    retryTimer->stop();
    releaseReply();
    removePartialFile();
    releaseFile();
    pendingRequests.clear();
}

void DownloadAgent::startNext()
{
    ++currentIndex;
    if (currentIndex >= pendingRequests.size()) {
        releaseReply();
        releaseFile();
        pendingRequests.clear();
        emit finished();
        return;
    }

    const DownloadRequest& request = pendingRequests.at(currentIndex);
    qDebug("DownloadAgent: Downloading:");
    qDebug() << "  from " << request.url.adjusted(QUrl::RemoveUserInfo);
    qDebug() << "  to " << request.destination;

    bytesWritten = 0;
    attempt = 0;
    hash.reset();
    resumeValidator.clear();
    fileLength = -1;
    requestClock.start();
    emit requestStarted(currentIndex);
    if (!isBusy())
        return;
    file = new QFile(request.destination);
    if (!openDestination(request.destination)) {
        // What is there (if anything) was not written here, so it is not removed either.
        fail(FailureKind::FileError, QStringLiteral("Failed to open destination file."), false);
        return;
    }
    // A device image is fetched over the web and nothing else: no local file, no resource.
    if (request.requireLength && !isHttp(request.url)) {
        fail(FailureKind::Refused, QStringLiteral("Only http and https downloads are allowed."));
        return;
    }
    sendRequest();
}

bool DownloadAgent::openDestination(const QString& path)
{
    // Unbuffered, so that a write that does not reach the disk is reported by the write itself.
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
#if defined(Q_OS_UNIX)
    // Owner-only from its first byte: a file opened anew keeps the permissions it had, so an old
    // file is replaced by one created 0600. A link is never followed out of the directory; a device
    // (a test's full disk) is written as it is.
    const QByteArray native = QFile::encodeName(path);
    struct stat status;
    int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
    if (::lstat(native.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && ::unlink(native.constData()) != 0)
        return false;
    if (::lstat(native.constData(), &status) != 0)
        flags |= O_CREAT | O_EXCL;
    else
        flags |= O_TRUNC;
    const int fd = ::open(native.constData(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    if (!file->open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    if (!file->open(mode))
        return false;
    file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
#endif
}

void DownloadAgent::sendRequest()
{
    if (!isBusy() || !file)
        return;
    if (maximumDurationMs > 0 && requestClock.elapsed() >= maximumDurationMs) {
        fail(FailureKind::Network, tooLongText(maximumDurationMs));
        return;
    }
    const DownloadRequest& request = pendingRequests.at(currentIndex);
    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    networkRequest.setMaximumRedirectsAllowed(maximumRedirects);
    networkRequest.setTransferTimeout(transferTimeoutMs);
    // The file must arrive byte for byte as the server keeps it, with the size its HEAD announced.
    networkRequest.setRawHeader("Accept-Encoding", "identity");
    if (bytesWritten > 0 && resumeValidator.isEmpty()) {
        // Nothing tells whether the server still has the file whose first bytes are held; joining
        // the rest of another file to them would make an image no publisher ever made.
        qDebug("DownloadAgent: The server named no ETag or Last-Modified, so the download starts over.");
        startOver();
    }
    replyOffset = bytesWritten;
    if (replyOffset > 0) {
        networkRequest.setRawHeader("Range", "bytes=" + QByteArray::number(replyOffset) + '-');
        // A server whose file changed meanwhile answers with the whole new file instead.
        networkRequest.setRawHeader("If-Range", resumeValidator);
    }

    currentReply = network->get(networkRequest);
    // Without a bound the network thread buffers as fast as the server sends, however far the
    // writes to disk lag behind: a fast server would pull a whole image into memory.
    currentReply->setReadBufferSize(readBufferSize);
    connect(currentReply, &QNetworkReply::metaDataChanged, this, &DownloadAgent::onReplyHeaders);
    connect(currentReply, &QIODevice::readyRead, this, &DownloadAgent::onReplyAvailable);
    connect(currentReply, &QNetworkReply::downloadProgress, this, &DownloadAgent::onReplyProgress);
    connect(currentReply, &QNetworkReply::errorOccurred, this, &DownloadAgent::onReplyError);
    connect(currentReply, &QNetworkReply::finished, this, &DownloadAgent::onReplyComplete);
    replyBytes = 0;
    replyClock.start();
    rateTimer->start(qBound(10, slowGrace / 10, 1000));
}

void DownloadAgent::startOver()
{
    file->resize(0);
    file->seek(0);
    bytesWritten = 0;
    replyOffset = 0;
    hash.reset();
}

void DownloadAgent::restartWhole(const QString& reason)
{
    qDebug().noquote() << "DownloadAgent:" << reason << "The download starts over.";
    releaseReply();
    startOver();
    resumeValidator.clear();
    fileLength = -1;
    retryTimer->start(0);
}

void DownloadAgent::rememberValidator()
{
    const QByteArray etag = strongEtag(currentReply);
    validatorIsEtag = !etag.isEmpty();
    resumeValidator = validatorIsEtag ? etag : currentReply->rawHeader("Last-Modified").trimmed();
    fileLength = announcedLength(currentReply);
}

bool DownloadAgent::continuesHeldFile(QString* reason) const
{
    qint64 first = -1;
    qint64 total = -1;
    contentRange(currentReply, &first, &total);
    const qint64 expected = pendingRequests.at(currentIndex).expectedSize;
    const QByteArray validator
        = validatorIsEtag ? strongEtag(currentReply) : currentReply->rawHeader("Last-Modified").trimmed();
    if (first != replyOffset)
        *reason = QStringLiteral("The server resumed at another byte than asked for.");
    else if ((fileLength >= 0 || expected >= 0) && total != (fileLength >= 0 ? fileLength : expected))
        *reason = QStringLiteral("The server resumed a file of another length than announced.");
    else if (validator != resumeValidator)
        *reason = QStringLiteral("The file changed on the server.");
    else
        return true;
    return false;
}

void DownloadAgent::checkTransferRate()
{
    if (!currentReply)
        return;
    if (maximumDurationMs > 0 && requestClock.elapsed() >= maximumDurationMs) {
        fail(FailureKind::Network, tooLongText(maximumDurationMs));
        return;
    }
    const qint64 elapsed = replyClock.elapsed();
    if (elapsed >= slowGrace && replyBytes * 1000 < minimumBytesPerSecond * elapsed)
        retryOrFail(FailureKind::Network, tooSlowText(replyBytes, elapsed, minimumBytesPerSecond), true);
}

void DownloadAgent::onReplyHeaders()
{
    if (!currentReply || !isHttp(currentReply->url()))
        return;
    const int status = httpStatus(currentReply);
    // An error answer is final as soon as its headers arrive; its body may never end.
    if (status >= 400) {
        retryOrFail(FailureKind::Server, httpStatusText(currentReply), status >= 500);
        return;
    }
    if (status < 200 || status > 299)
        return;
    replyContentType = currentReply->rawHeader("Content-Type");

    if (replyOffset > 0 && status == 206) {
        QString reason;
        if (!continuesHeldFile(&reason)) {
            restartWhole(reason);
            return;
        }
    } else if (status == 206) {
        // Part of a file, though the whole was asked for: not the file.
        retryOrFail(FailureKind::Server,
            QStringLiteral("The server sent part of the file instead of the whole."), true);
        return;
    } else {
        if (replyOffset > 0) {
            // The file changed, or the server does not resume: this answer is the file.
            qDebug("DownloadAgent: The server sends the whole file again; starting over.");
            startOver();
        }
        rememberValidator();
    }

    const DownloadRequest& request = pendingRequests.at(currentIndex);
    if (request.requireLength && request.expectedSize < 0 && announcedLength(currentReply) < 0
        && !isChunked(currentReply)) {
        fail(FailureKind::Refused,
            QStringLiteral("The server announced no length for the file, so it cannot be known to "
                           "arrive complete."),
            true);
    }
}

void DownloadAgent::onReplyAvailable()
{
    if (!currentReply || !file)
        return;
    const QByteArray data = currentReply->readAll();
    replyBytes += data.size();
    // The body of an error page or of a redirect is not the file.
    const int status = httpStatus(currentReply);
    if (isHttp(currentReply->url()) && (status < 200 || status > 299))
        return;

    const DownloadRequest& request = pendingRequests.at(currentIndex);
    if (request.expectedSize >= 0 && bytesWritten + data.size() > request.expectedSize) {
        fail(FailureKind::Size,
            QStringLiteral("Download exceeds the announced %1 bytes.").arg(request.expectedSize));
        return;
    }
    if (request.maximumSize >= 0 && bytesWritten + data.size() > request.maximumSize) {
        fail(FailureKind::Size, QStringLiteral("Download exceeds %1 bytes.").arg(request.maximumSize));
        return;
    }
    const qint64 written = file->write(data);
    if (written != data.size()) {
        fail(FailureKind::FileError,
            QStringLiteral("Failed to write destination file: %1").arg(file->errorString()));
        return;
    }
    hash.addData(data);
    bytesWritten += written;
}

void DownloadAgent::onReplyProgress(qint64 received, qint64 total)
{
    float fraction = 0.0f;
    if (total > 0) {
        // A resumed reply counts what was written before it.
        fraction = static_cast<float>(
            static_cast<double>(replyOffset + received) / static_cast<double>(replyOffset + total));
    } else if (total == 0) {
        fraction = 1.0f;
    }
    emit progress(currentIndex, fraction);
}

void DownloadAgent::onReplyError(QNetworkReply::NetworkError code)
{
    if (!currentReply)
        return;
    retryOrFail(FailureKind::Network, failureText(currentReply, transferTimeoutMs),
        isTransient(code, httpStatus(currentReply)));
}

void DownloadAgent::onReplyComplete()
{
    if (!currentReply)
        return;
    // A final answer outside 2xx without a network error (a redirect that was not followed, say).
    const int status = httpStatus(currentReply);
    if (isHttp(currentReply->url()) && (status < 200 || status > 299)) {
        retryOrFail(FailureKind::Server, httpStatusText(currentReply), status >= 500);
        return;
    }
    // Whatever is still buffered belongs to the file.
    if (currentReply->bytesAvailable() > 0) {
        onReplyAvailable();
        if (!currentReply)
            return;
    }

    const DownloadRequest& request = pendingRequests.at(currentIndex);
    const qint64 announced = announcedLength(currentReply);
    const qint64 received = bytesWritten - replyOffset;
    if (announced >= 0 && announced != received) {
        // Cut off on the way: the rest is asked for again.
        retryOrFail(FailureKind::Network,
            QStringLiteral("Received %1 of %2 bytes.").arg(received).arg(announced), received < announced);
        return;
    }
    if (request.expectedSize >= 0 && request.expectedSize != bytesWritten) {
        const QString reason
            = QStringLiteral("Received %1 bytes, expected %2.").arg(bytesWritten).arg(request.expectedSize);
        fail(FailureKind::Size, reason);
        return;
    }
    digestOfLast = hash.result();
    if (!request.sha256.isEmpty() && digestOfLast != request.sha256) {
        qCritical() << "DownloadAgent: SHA-256 is" << hash.result().toHex() << "instead of"
                    << request.sha256.toHex();
        fail(FailureKind::Digest, QStringLiteral("The file's SHA-256 digest does not match the catalogue."));
        return;
    }

    file->close();
    if (file->error() != QFileDevice::NoError) {
        fail(FailureKind::FileError,
            QStringLiteral("Failed to write destination file: %1").arg(file->errorString()));
        return;
    }
    releaseFile();
    releaseReply();
    emit requestFinished(currentIndex, digestOfLast);
    if (!isBusy())
        return;
    startNext();
}

void DownloadAgent::retryOrFail(FailureKind kind, const QString& reason, bool transient)
{
    if (!transient || attempt >= maximumRetries) {
        fail(kind, reason);
        return;
    }
    ++attempt;
    const int pause = retryPauseMs << (attempt - 1);
    qDebug().noquote() << "DownloadAgent: Retry" << attempt << "of" << maximumRetries << "in"
                       << pause / 1000.0 << "s, from byte" << bytesWritten << "after:" << reason;
    releaseReply();
    retryTimer->start(pause);
    emit retrying(retryText(attempt, pause, reason));
}

QString DownloadAgent::retryText(int attempt, int pauseMsecs, const QString& reason)
{
    return QStringLiteral("%1 Trying again in %2 s (retry %3 of %4)...")
        .arg(reason.endsWith(QLatin1Char('.')) ? reason : reason + QLatin1Char('.'))
        .arg(qMax(1, (pauseMsecs + 500) / 1000))
        .arg(attempt)
        .arg(maximumRetries);
}

void DownloadAgent::fail(FailureKind kind, const QString& reason, bool removeFile)
{
    lastFailureKind = kind;
    qCritical().noquote() << "DownloadAgent: Download failed:" << reason;
    retryTimer->stop();
    releaseReply();
    if (removeFile)
        removePartialFile();
    releaseFile();
    pendingRequests.clear();
    emit failed(reason);
}

void DownloadAgent::releaseReply()
{
    if (!currentReply)
        return;
    // Usually released from inside one of its own signals, so it is deleted later; disconnected
    // first so that nothing more of it reaches the agent. An unfinished reply is aborted so that
    // its connection is not left open.
    rateTimer->stop();
    QNetworkReply* reply = currentReply;
    currentReply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
}

void DownloadAgent::removePartialFile()
{
    if (!file)
        return;
    // A file opened from its descriptor has no name of its own, so it is removed by the request's.
    const QString path = pendingRequests.value(currentIndex).destination;
    file->close();
    // Only a file of this agent's own: never a device written to, nor a link.
    if (!path.isEmpty() && QFileInfo(path).isFile() && !QFileInfo(path).isSymLink())
        QFile::remove(path);
}

void DownloadAgent::releaseFile()
{
    delete file;
    file = nullptr;
}

} // namespace PelkPlus
