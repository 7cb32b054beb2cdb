#include "update/DownloadAgent.h"

#include <QDebug>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>

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

// The first byte of a partial answer, from "bytes <first>-<last>/<total>"; -1 when unreadable.
qint64 rangeStart(const QNetworkReply* reply)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*bytes\\s+(\\d+)-\\d+/(\\d+|\\*)\\s*$"));
    const QRegularExpressionMatch match
        = pattern.match(QString::fromLatin1(reply->rawHeader("Content-Range")));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
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

DownloadAgent::DownloadAgent(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_retryTimer(new QTimer(this))
    , m_retryPause(defaultPause)
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &DownloadAgent::sendRequest);
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
    return detail.isEmpty() ? reply->errorString()
                            : QStringLiteral("%1 (%2)").arg(reply->errorString(), detail);
}

bool DownloadAgent::download(const QList<DownloadRequest>& requests)
{
    if (isBusy()) {
        qCritical("Already active.");
        return false;
    }
    releaseReply();
    releaseFile();
    m_requests = requests;
    m_currentIndex = -1;
    m_contentType.clear();
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
    m_retryTimer->stop();
    releaseReply();
    if (m_file) {
        m_file->remove();
        releaseFile();
    }
    m_requests.clear();
}

void DownloadAgent::startNext()
{
    ++m_currentIndex;
    if (m_currentIndex >= m_requests.size()) {
        releaseReply();
        releaseFile();
        m_requests.clear();
        emit finished();
        return;
    }

    const DownloadRequest& request = m_requests.at(m_currentIndex);
    qDebug("DownloadAgent: Downloading:");
    qDebug() << "  from " << request.url;
    qDebug() << "  to " << request.destination;

    m_written = 0;
    m_attempt = 0;
    m_hash.reset();
    emit requestStarted(m_currentIndex);
    if (!isBusy())
        return;
    m_file = new QFile(request.destination);
    // Unbuffered, so that a write that does not reach the disk is reported by the write itself.
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(FailureKind::FileError, QStringLiteral("Failed to open destination file."));
        return;
    }
    // A device image is fetched over the web and nothing else: no local file, no resource.
    if (request.requireLength && !isHttp(request.url)) {
        fail(FailureKind::Refused, QStringLiteral("Only http and https downloads are allowed."), true);
        return;
    }
    sendRequest();
}

void DownloadAgent::sendRequest()
{
    if (!isBusy() || !m_file)
        return;
    const DownloadRequest& request = m_requests.at(m_currentIndex);
    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    networkRequest.setMaximumRedirectsAllowed(maximumRedirects);
    networkRequest.setTransferTimeout(m_transferTimeout);
    // The file must arrive byte for byte as the server keeps it, with the size its HEAD announced.
    networkRequest.setRawHeader("Accept-Encoding", "identity");
    m_replyOffset = m_written;
    if (m_replyOffset > 0)
        networkRequest.setRawHeader("Range", "bytes=" + QByteArray::number(m_replyOffset) + '-');

    m_reply = m_network->get(networkRequest);
    // Without a bound the network thread buffers as fast as the server sends, however far the
    // writes to disk lag behind: a fast server would pull a whole image into memory.
    m_reply->setReadBufferSize(readBufferSize);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &DownloadAgent::onReplyHeaders);
    connect(m_reply, &QIODevice::readyRead, this, &DownloadAgent::onReplyAvailable);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &DownloadAgent::onReplyProgress);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &DownloadAgent::onReplyError);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadAgent::onReplyComplete);
}

void DownloadAgent::startOver()
{
    m_file->resize(0);
    m_file->seek(0);
    m_written = 0;
    m_replyOffset = 0;
    m_hash.reset();
}

void DownloadAgent::onReplyHeaders()
{
    if (!m_reply || !isHttp(m_reply->url()))
        return;
    const int status = httpStatus(m_reply);
    // An error answer is final as soon as its headers arrive; its body may never end.
    if (status >= 400) {
        retryOrFail(FailureKind::Server, httpStatusText(m_reply), status >= 500);
        return;
    }
    if (status < 200 || status > 299)
        return;
    m_contentType = m_reply->rawHeader("Content-Type");

    if (m_replyOffset > 0) {
        if (status == 200) {
            qDebug("DownloadAgent: The server sends the whole file again; starting over.");
            startOver();
        } else if (rangeStart(m_reply) != m_replyOffset) {
            startOver();
            retryOrFail(FailureKind::Server,
                QStringLiteral("The server resumed at another byte than asked for."), true);
            return;
        }
    }

    const DownloadRequest& request = m_requests.at(m_currentIndex);
    if (request.requireLength && request.expectedSize < 0 && announcedLength(m_reply) < 0
        && !isChunked(m_reply)) {
        fail(FailureKind::Refused,
            QStringLiteral("The server announced no length for the file, so it cannot be known to "
                           "arrive complete."),
            true);
    }
}

void DownloadAgent::onReplyAvailable()
{
    if (!m_reply || !m_file)
        return;
    const QByteArray data = m_reply->readAll();
    // The body of an error page or of a redirect is not the file.
    const int status = httpStatus(m_reply);
    if (isHttp(m_reply->url()) && (status < 200 || status > 299))
        return;

    const DownloadRequest& request = m_requests.at(m_currentIndex);
    if (request.expectedSize >= 0 && m_written + data.size() > request.expectedSize) {
        fail(FailureKind::Size,
            QStringLiteral("Download exceeds the announced %1 bytes.").arg(request.expectedSize), true);
        return;
    }
    if (request.maximumSize >= 0 && m_written + data.size() > request.maximumSize) {
        fail(FailureKind::Size, QStringLiteral("Download exceeds %1 bytes.").arg(request.maximumSize), true);
        return;
    }
    const qint64 written = m_file->write(data);
    if (written != data.size()) {
        fail(FailureKind::FileError,
            QStringLiteral("Failed to write destination file: %1").arg(m_file->errorString()));
        return;
    }
    if (!request.sha256.isEmpty())
        m_hash.addData(data);
    m_written += written;
}

void DownloadAgent::onReplyProgress(qint64 received, qint64 total)
{
    float fraction = 0.0f;
    if (total > 0) {
        // A resumed reply counts what was written before it.
        fraction = static_cast<float>(
            static_cast<double>(m_replyOffset + received) / static_cast<double>(m_replyOffset + total));
    } else if (total == 0) {
        fraction = 1.0f;
    }
    emit progress(m_currentIndex, fraction);
}

void DownloadAgent::onReplyError(QNetworkReply::NetworkError code)
{
    if (!m_reply)
        return;
    retryOrFail(FailureKind::Network, failureText(m_reply, m_transferTimeout),
        isTransient(code, httpStatus(m_reply)));
}

void DownloadAgent::onReplyComplete()
{
    if (!m_reply)
        return;
    // A final answer outside 2xx without a network error (a redirect that was not followed, say).
    const int status = httpStatus(m_reply);
    if (isHttp(m_reply->url()) && (status < 200 || status > 299)) {
        retryOrFail(FailureKind::Server, httpStatusText(m_reply), status >= 500);
        return;
    }
    // Whatever is still buffered belongs to the file.
    if (m_reply->bytesAvailable() > 0) {
        onReplyAvailable();
        if (!m_reply)
            return;
    }

    const DownloadRequest& request = m_requests.at(m_currentIndex);
    const qint64 announced = announcedLength(m_reply);
    const qint64 received = m_written - m_replyOffset;
    if (announced >= 0 && announced != received) {
        // Cut off on the way: the rest is asked for again.
        retryOrFail(FailureKind::Network,
            QStringLiteral("Received %1 of %2 bytes.").arg(received).arg(announced), received < announced);
        return;
    }
    if (request.expectedSize >= 0 && request.expectedSize != m_written) {
        const QString reason
            = QStringLiteral("Received %1 bytes, expected %2.").arg(m_written).arg(request.expectedSize);
        fail(FailureKind::Size, reason, true);
        return;
    }
    if (!request.sha256.isEmpty() && m_hash.result() != request.sha256) {
        qCritical() << "DownloadAgent: SHA-256 is" << m_hash.result().toHex() << "instead of"
                    << request.sha256.toHex();
        fail(FailureKind::Digest, QStringLiteral("The file's SHA-256 digest does not match the catalogue."),
            true);
        return;
    }

    m_file->close();
    if (m_file->error() != QFileDevice::NoError) {
        fail(FailureKind::FileError,
            QStringLiteral("Failed to write destination file: %1").arg(m_file->errorString()));
        return;
    }
    releaseFile();
    releaseReply();
    startNext();
}

void DownloadAgent::retryOrFail(FailureKind kind, const QString& reason, bool transient)
{
    if (!transient || m_attempt >= maximumRetries) {
        fail(kind, reason);
        return;
    }
    ++m_attempt;
    const int pause = m_retryPause << (m_attempt - 1);
    qDebug().noquote() << "DownloadAgent: Retry" << m_attempt << "of" << maximumRetries << "in"
                       << pause / 1000.0 << "s, from byte" << m_written << "after:" << reason;
    releaseReply();
    m_retryTimer->start(pause);
}

void DownloadAgent::fail(FailureKind kind, const QString& reason, bool removeFile)
{
    m_failureKind = kind;
    qCritical().noquote() << "DownloadAgent: Download failed:" << reason;
    m_retryTimer->stop();
    releaseReply();
    if (removeFile && m_file)
        m_file->remove();
    releaseFile();
    m_requests.clear();
    emit failed(reason);
}

void DownloadAgent::releaseReply()
{
    if (!m_reply)
        return;
    // Usually released from inside one of its own signals, so it is deleted later; disconnected
    // first so that nothing more of it reaches the agent. An unfinished reply is aborted so that
    // its connection is not left open.
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
}

void DownloadAgent::releaseFile()
{
    delete m_file;
    m_file = nullptr;
}

} // namespace PelkPlus
