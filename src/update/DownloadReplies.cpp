#include "update/DownloadReplies.h"

#include "update/DownloadAgent.h"

#include <QNetworkRequest>
#include <QUrl>

namespace PelkPlus {

int DownloadReplies::httpStatus(const QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString DownloadReplies::httpStatusText(const QNetworkReply* reply)
{
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QString status = QStringLiteral("HTTP %1").arg(httpStatus(reply));
    return reason.isEmpty() ? status : status + QLatin1Char(' ') + reason;
}

bool DownloadReplies::isHttp(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool DownloadReplies::isChunked(const QNetworkReply* reply)
{
    return reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
}

qint64 DownloadReplies::announcedLength(const QNetworkReply* reply)
{
    const QByteArray raw = reply->rawHeader("Content-Length");
    if (raw.isEmpty())
        return -1;
    bool ok = false;
    const qint64 length = raw.mid(raw.lastIndexOf(',') + 1).trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

QUrl DownloadReplies::redactedUrl(const QUrl& url)
{
    QUrl redacted = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    if (redacted.hasQuery())
        redacted.setQuery(QStringLiteral("..."));
    return redacted;
}

QString DownloadReplies::displayUrl(const QUrl& url)
{
    return redactedUrl(url).toString();
}

QString DownloadReplies::displayServer(const QUrl& url)
{
    if (url.host().isEmpty())
        return QString();
    const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    return QStringLiteral("%1:%2").arg(url.host()).arg(port);
}

QString DownloadReplies::displaySource(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty() ? displayUrl(url) : text;
}

bool DownloadReplies::isTransient(QNetworkReply::NetworkError code, int status)
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

QString DownloadReplies::failureText(const QNetworkReply* reply, int transferTimeout)
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
        if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()) {
            for (const QString& named :
                { url.toString(), url.toDisplayString(), url.toString(QUrl::FullyEncoded) })
                text.replace(named, displayUrl(url));
        }
    }
    return detail.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, detail);
}

QString DownloadReplies::tooSlowText(const QString& server, qint64 bytes, qint64 msecs, qint64 minimumRate)
{
    return QStringLiteral("The server %1 is too slow: %2 bytes in %3 s, less than %4 bytes per second.")
        .arg(server.isEmpty() ? QStringLiteral("(no host)") : server)
        .arg(bytes)
        .arg(msecs / 1000.0)
        .arg(minimumRate);
}

QString DownloadReplies::tooLongText(const QString& server, const QString& late, int maximumMsecs)
{
    return QStringLiteral("The server %1 is too slow: %2 within %3 s.")
        .arg(server.isEmpty() ? QStringLiteral("(no host)") : server, late)
        .arg(maximumMsecs / 1000.0);
}

QString DownloadReplies::retryText(int attempt, int pauseMsecs, const QString& reason)
{
    const QString when = pauseMsecs > 0 ? QStringLiteral("in %1 s").arg(qMax(1, (pauseMsecs + 500) / 1000))
                                        : QStringLiteral("now");
    return QStringLiteral("%1 Trying again %2 (retry %3 of %4)...")
        .arg(reason.endsWith(QLatin1Char('.')) ? reason : reason + QLatin1Char('.'), when)
        .arg(attempt)
        .arg(DownloadAgent::maximumRetries);
}

} // namespace PelkPlus
