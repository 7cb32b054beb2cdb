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

    // The URL as logs, the history, reports and JSON write it: without its user-info part, and with
    // "..." for its query ("https://host/x?..."), so that a password or a token given in a URL
    // never leaves the settings that hold it. The fragment is dropped too.
    static QUrl redactedUrl(const QUrl& url);
    static QString displayUrl(const QUrl& url);
    // The server alone, as host:port with the scheme's port when none is given; empty for a URL
    // with no host.
    static QString displayServer(const QUrl& url);
    // The same for a text that may be a URL (a history entry's source); other text as it is.
    static QString displaySource(const QString& text);

    // Whether a failed reply is worth another attempt: the connection failed or timed out, or the
    // server answered with an error of its own (5xx).
    static bool isTransient(QNetworkReply::NetworkError code, int status);
    // The framework's text for a failed reply, followed by the detail the agent knows.
    static QString failureText(const QNetworkReply* reply, int transferTimeout);
    // The failure texts of a request found too slow: by its average rate, or by its whole duration.
    // server names the one waited for, as displayServer gives it (host:port).
    static QString tooSlowText(const QString& server, qint64 bytes, qint64 msecs, qint64 minimumRate);
    // late says what came too late ("the file did not arrive").
    static QString tooLongText(const QString& server, const QString& late, int maximumMsecs);
    // What a person is told while a failed request waits to be tried again.
    // "... Trying again in 2 s (retry 2 of 3)...", or "now" for a pause of 0 (the request goes out).
    static QString retryText(int attempt, int pauseMsecs, const QString& reason);
};

} // namespace PelkPlus
