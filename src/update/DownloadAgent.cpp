#include "update/DownloadAgent.h"

#include <QDebug>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace PelkPlus {

namespace {

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

} // namespace

DownloadAgent::DownloadAgent(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
}

DownloadAgent::~DownloadAgent()
{
    releaseReply();
    releaseFile();
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
    m_file = new QFile(request.destination);
    // Unbuffered, so that a write that does not reach the disk is reported by the write itself.
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(QStringLiteral("Failed to open destination file."));
        return;
    }

    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    networkRequest.setMaximumRedirectsAllowed(maximumRedirects);
    networkRequest.setTransferTimeout(m_transferTimeout);
    // The file must arrive byte for byte as the server keeps it, with the size its HEAD announced.
    networkRequest.setRawHeader("Accept-Encoding", "identity");

    m_reply = m_network->get(networkRequest);
    // Without a bound the network thread buffers as fast as the server sends, however far the
    // writes to disk lag behind: a fast server would pull a whole image into memory.
    m_reply->setReadBufferSize(readBufferSize);
    connect(m_reply, &QIODevice::readyRead, this, &DownloadAgent::onReplyAvailable);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &DownloadAgent::onReplyProgress);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &DownloadAgent::onReplyError);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadAgent::onReplyComplete);
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
    if (request.maximumSize >= 0 && m_written + data.size() > request.maximumSize) {
        fail(QStringLiteral("Download exceeds %1 bytes.").arg(request.maximumSize));
        return;
    }
    const qint64 written = m_file->write(data);
    if (written != data.size()) {
        fail(QStringLiteral("Failed to write destination file: %1").arg(m_file->errorString()));
        return;
    }
    m_written += written;
}

void DownloadAgent::onReplyProgress(qint64 received, qint64 total)
{
    float fraction = 0.0f;
    if (total > 0)
        fraction = static_cast<float>(static_cast<double>(received) / static_cast<double>(total));
    else if (total == 0)
        fraction = 1.0f;
    emit progress(m_currentIndex, fraction);
}

void DownloadAgent::onReplyError(QNetworkReply::NetworkError code)
{
    if (!m_reply)
        return;
    QString reason;
    if (code == QNetworkReply::OperationCanceledError) {
        // Nothing here aborts a running reply; the transfer time-out does.
        reason = QStringLiteral("No data received for %1 s.").arg(m_transferTimeout / 1000.0);
    } else if (httpStatus(m_reply) >= 400) {
        reason = httpStatusText(m_reply);
    } else {
        reason = m_reply->errorString();
    }
    fail(reason);
}

void DownloadAgent::onReplyComplete()
{
    if (!m_reply)
        return;
    // A final answer outside 2xx without a network error (a redirect that was not followed, say).
    const int status = httpStatus(m_reply);
    if (isHttp(m_reply->url()) && (status < 200 || status > 299)) {
        const QString reason = httpStatusText(m_reply);
        fail(reason);
        return;
    }
    // Whatever is still buffered belongs to the file.
    if (m_reply->bytesAvailable() > 0) {
        onReplyAvailable();
        if (!m_reply)
            return;
    }

    const DownloadRequest& request = m_requests.at(m_currentIndex);
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != m_written) {
        const QString reason
            = QStringLiteral("Received %1 of %2 bytes.").arg(m_written).arg(announced.toLongLong());
        fail(reason);
        return;
    }
    if (request.expectedSize >= 0 && request.expectedSize != m_written) {
        const QString reason
            = QStringLiteral("Received %1 bytes, expected %2.").arg(m_written).arg(request.expectedSize);
        fail(reason);
        return;
    }

    m_file->close();
    if (m_file->error() != QFileDevice::NoError) {
        fail(QStringLiteral("Failed to write destination file: %1").arg(m_file->errorString()));
        return;
    }
    releaseFile();
    releaseReply();
    startNext();
}

void DownloadAgent::fail(const QString& reason)
{
    qCritical().noquote() << "DownloadAgent: Download failed:" << reason;
    releaseReply();
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
