#pragma once

#include "update/DownloadFailure.h"
#include "update/DownloadRequest.h"
#include "update/Sha256.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>

class QFile;
class QNetworkAccessManager;
class QTimer;

namespace PelkPlus {

// Downloads a batch of files over HTTP(S), one after the other, each straight into its local file,
// and reports per-file progress, completion of the whole batch or the first failure. Runs one batch
// at a time. A request cut off by the network or answered with a server error is tried again, after
// a growing pause, resuming from the bytes already written where the server allows it.
class DownloadAgent : public QObject
{
    Q_OBJECT

public:
    // A request that makes no progress for this long is abandoned as failed.
    static constexpr int defaultTransferTimeout = 60000;
    // Redirects followed per request, never from https to http.
    static constexpr int maximumRedirects = 5;
    // Bytes of a reply held in memory at most before they are written out.
    static constexpr qint64 readBufferSize = 256 * 1024;
    // Further attempts after a connection error, a time-out or a server error (5xx).
    static constexpr int maximumRetries = 3;
    // Pause before the first retry; it doubles before each further one.
    static constexpr int defaultRetryPause = 1000;

    // What kind of failure the last failed() was, beside its text.
    using FailureKind = DownloadFailure;

    explicit DownloadAgent(QObject* parent = nullptr);

    // The length the answer that carries the body announced, -1 for none. After a redirect the
    // framework can keep the redirect's own headers and add the final answer's to them
    // ("Content-Length: 5, 70000"), so the last value is the one that belongs to the body.
    static qint64 announcedLength(const QNetworkReply* reply);
    ~DownloadAgent() override;

    // Starts a batch and returns true, or returns false (and reports nothing) while one is running.
    bool download(const QList<DownloadRequest>& requests);
    bool download(const DownloadRequest& request);
    // Ends the running batch without a signal; the partly written file is removed.
    void abort();

    bool isBusy() const { return !m_requests.isEmpty(); }
    // The request of the batch being fetched, or the one that failed after failed(); -1 before any.
    int currentRequest() const { return m_currentIndex; }
    // The kind of the last failure; None before any.
    FailureKind failureKind() const { return m_failureKind; }
    // The Content-Type header of the last successful answer; empty when it had none.
    QByteArray contentType() const { return m_contentType; }

    // Milliseconds without progress after which a request fails; applies to requests started later.
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }
    int transferTimeout() const { return m_transferTimeout; }

    // The first retry pause of this agent, and of every agent created later.
    void setRetryPause(int msecs) { m_retryPause = msecs; }
    int retryPause() const { return m_retryPause; }
    static void setDefaultRetryPause(int msecs);

    // Whether a failed reply is worth another attempt: the connection failed or timed out, or the
    // server answered with an error of its own (5xx). Shared with the size requests.
    static bool isTransient(QNetworkReply::NetworkError code, int httpStatus);
    // The framework's text for a failed reply, followed by the detail the agent knows.
    static QString failureText(const QNetworkReply* reply, int transferTimeout);

signals:
    void finished();
    void failed(const QString& reason);
    void progress(int request, float fraction);
    // A request of the batch begins (its first attempt).
    void requestStarted(int request);

private slots:
    void onReplyHeaders();
    void onReplyAvailable();
    void onReplyProgress(qint64 received, qint64 total);
    void onReplyError(QNetworkReply::NetworkError code);
    void onReplyComplete();

private:
    Q_DISABLE_COPY(DownloadAgent)

    void startNext();
    void sendRequest();
    void startOver();
    // Tries the request again when the failure is transient and attempts remain; fails otherwise.
    void retryOrFail(FailureKind kind, const QString& reason, bool transient);
    // Removing the file is for failures that show the bytes written are not the file.
    void fail(FailureKind kind, const QString& reason, bool removeFile = false);
    void releaseReply();
    void releaseFile();

    QList<DownloadRequest> m_requests;
    int m_currentIndex = -1;
    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_reply = nullptr;
    QFile* m_file = nullptr;
    QTimer* m_retryTimer = nullptr;
    Sha256 m_hash;
    qint64 m_written = 0;
    // Bytes of the file written before the current reply began: where it resumes.
    qint64 m_replyOffset = 0;
    int m_attempt = 0;
    int m_transferTimeout = defaultTransferTimeout;
    int m_retryPause;
    FailureKind m_failureKind = FailureKind::None;
    QByteArray m_contentType;
};

} // namespace PelkPlus
