#pragma once

#include <QNetworkReply>
#include <QString>

class QUrl;

namespace PelkPlus {

// What a reply of a download or of a size request says, read the same way by both: its status and
// length, whether its failure is worth another attempt, and the texts that tell a person why a
// request failed or waits to be tried again.
class DownloadReplies
{
public:
    // The status of an HTTP reply, 0 for anything that did not come over HTTP.
    static int httpStatus(const QNetworkReply* reply);
    // "HTTP 404 Not Found", or the status alone when the server gave no reason phrase.
    static QString httpStatusText(const QNetworkReply* reply);
    static bool isHttp(const QUrl& url);
    static bool isChunked(const QNetworkReply* reply);

    // The length the answer that carries the body announced, -1 for none. After a redirect the
    // framework can keep the redirect's own headers and add the final answer's to them
    // ("Content-Length: 5, 70000"), so the last value is the one that belongs to the body.
    static qint64 announcedLength(const QNetworkReply* reply);

    // The URL as logs, the history and reports write it: without its user-info part, so that a
    // password given in a URL never leaves the settings that hold it.
    static QString displayUrl(const QUrl& url);

    // Whether a failed reply is worth another attempt: the connection failed or timed out, or the
    // server answered with an error of its own (5xx).
    static bool isTransient(QNetworkReply::NetworkError code, int status);
    // The framework's text for a failed reply, followed by the detail the agent knows.
    static QString failureText(const QNetworkReply* reply, int transferTimeout);
    // The failure texts of a request found too slow: by its average rate, or by its whole duration.
    static QString tooSlowText(qint64 bytes, qint64 msecs, qint64 minimumRate);
    static QString tooLongText(int maximumMsecs);
    // What a person is told while a failed request waits to be tried again.
    static QString retryText(int attempt, int pauseMsecs, const QString& reason);
};

} // namespace PelkPlus
