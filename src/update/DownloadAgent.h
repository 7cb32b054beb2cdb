#pragma once

#include "update/DownloadFailure.h"
#include "update/DownloadRequest.h"
#include "update/Sha256.h"

#include <QElapsedTimer>
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
// a growing pause, resuming from the bytes already written where the server shows, by the file's
// ETag or Last-Modified, that it still has the same file; otherwise the file starts over.
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
    // What a person is told while a failed request waits to be tried again.
    static QString retryText(int attempt, int pauseMsecs, const QString& reason);
    // A server too slow to be waited for: once a request has run for slowServerGrace ms, its
    // average rate since it began must be at least minimumTransferRate bytes per second. Unlike
    // the time-out, a byte now and then does not keep such a request alive.
    static constexpr int slowServerGrace = 30000;
    static constexpr qint64 minimumTransferRate = 1024;
    // The longest a catalogue request (manifest, signature) may run in all, its retries included;
    // 0 where requests are bounded by their rate only.
    static constexpr int maximumCatalogueDuration = 120000;

    // What kind of failure the last failed() was, beside its text.
    using FailureKind = DownloadFailure;

    explicit DownloadAgent(QObject* parent = nullptr);

    // The length the answer that carries the body announced, -1 for none. After a redirect the
    // framework can keep the redirect's own headers and add the final answer's to them
    // ("Content-Length: 5, 70000"), so the last value is the one that belongs to the body.
    static qint64 announcedLength(const QNetworkReply* reply);
    ~DownloadAgent() override;

    // The URL as logs, the history and reports write it: without its user-info part, so that a
    // password given in a URL never leaves the settings that hold it.
    static QString displayUrl(const QUrl& url);
    // The failure texts of a request found too slow: by its average rate, or by its whole duration.
    static QString tooSlowText(qint64 bytes, qint64 msecs, qint64 minimumRate);
    static QString tooLongText(int maximumMsecs);

    // Starts a batch and returns true, or returns false (and reports nothing) while one is running.
    bool download(const QList<DownloadRequest>& requests);
    bool download(const DownloadRequest& request);
    // Ends the running batch without a signal; the partly written file is removed.
    void abort();

    bool isBusy() const { return !pendingRequests.isEmpty(); }
    // The request of the batch being fetched, or the one that failed after failed(); -1 before any.
    int currentRequest() const { return currentIndex; }
    // The kind of the last failure; None before any.
    FailureKind failureKind() const { return lastFailureKind; }
    // The Content-Type header of the last successful answer; empty when it had none.
    QByteArray contentType() const { return replyContentType; }

    // Milliseconds without progress after which a request fails; applies to requests started later.
    void setTransferTimeout(int msecs) { transferTimeoutMs = msecs; }
    int transferTimeout() const { return transferTimeoutMs; }

    // The first retry pause of this agent, and of every agent created later.
    void setRetryPause(int msecs) { retryPauseMs = msecs; }
    int retryPause() const { return retryPauseMs; }
    static void setDefaultRetryPause(int msecs);

    // The slow-server bounds of requests started later (the constants above by default); tests
    // shorten them. A maximum duration of 0 leaves only the rate bound.
    void setSlowServerBounds(int graceMsecs, qint64 minimumRate, int maximumDuration);
    int slowServerGraceTime() const { return slowGrace; }
    qint64 minimumRate() const { return minimumBytesPerSecond; }
    int maximumDuration() const { return maximumDurationMs; }

    // The SHA-256 of the bytes the last completed request wrote, whether or not one was required:
    // what a later reader of the file must find again. Valid from the request's completion on.
    QByteArray lastDigest() const { return digestOfLast; }

    // Whether a failed reply is worth another attempt: the connection failed or timed out, or the
    // server answered with an error of its own (5xx). Shared with the size requests.
    static bool isTransient(QNetworkReply::NetworkError code, int httpStatus);
    // The framework's text for a failed reply, followed by the detail the agent knows.
    static QString failureText(const QNetworkReply* reply, int transferTimeout);

signals:
    void finished();
    void failed(const QString& reason);
    // A transient failure is tried again after a pause; text says so to a person.
    void retrying(const QString& text);
    void progress(int request, float fraction);
    // A request of the batch begins (its first attempt).
    void requestStarted(int request);
    // A request of the batch has its file complete and checked; digest as lastDigest().
    void requestFinished(int request, const QByteArray& digest);

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
    // Drops the bytes held and asks for the whole file again, at once and without using up a retry:
    // the server showed that what is held is not part of the file it serves now.
    void restartWhole(const QString& reason);
    // Whether a partial answer continues the very file whose first bytes are held.
    bool continuesHeldFile(QString* reason) const;
    void rememberValidator();
    void checkTransferRate();
    bool openDestination(const QString& path);
    // Tries the request again when the failure is transient and attempts remain; fails otherwise.
    void retryOrFail(FailureKind kind, const QString& reason, bool transient);
    // The partly written file is removed: what it holds is not the file, and must not be taken for
    // it later. A destination that could not be opened is left as it was.
    void fail(FailureKind kind, const QString& reason, bool removeFile = true);
    void releaseReply();
    void removePartialFile();
    void releaseFile();

    QList<DownloadRequest> pendingRequests;
    int currentIndex = -1;
    QNetworkAccessManager* network = nullptr;
    QNetworkReply* currentReply = nullptr;
    QFile* file = nullptr;
    QTimer* retryTimer = nullptr;
    Sha256 hash;
    qint64 bytesWritten = 0;
    // Bytes of the file written before the current reply began: where it resumes.
    qint64 replyOffset = 0;
    int attempt = 0;
    int transferTimeoutMs = defaultTransferTimeout;
    int retryPauseMs;
    // What identifies the file whose bytes are held: the answer's strong ETag, else its
    // Last-Modified; empty when neither came, and then a cut download starts over. Which of the two
    // it is, and the length of the whole file as announced (-1 when unknown).
    QByteArray resumeValidator;
    bool validatorIsEtag = false;
    qint64 fileLength = -1;
    // The slow-server bounds, and the clocks and byte count they are measured by.
    int slowGrace = slowServerGrace;
    qint64 minimumBytesPerSecond = minimumTransferRate;
    int maximumDurationMs = 0;
    QTimer* rateTimer = nullptr;
    QElapsedTimer requestClock;
    QElapsedTimer replyClock;
    qint64 replyBytes = 0;
    QByteArray digestOfLast;
    FailureKind lastFailureKind = FailureKind::None;
    QByteArray replyContentType;
};

} // namespace PelkPlus
