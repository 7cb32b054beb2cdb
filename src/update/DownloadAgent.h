#pragma once

#include "update/DownloadFailure.h"
#include "update/DownloadRequest.h"
#include "update/RetryBackoff.h"

#include <QList>
#include <QObject>

namespace PelkPlus {

class FileDownload;

// Downloads a batch of files over HTTP(S), one after the other, each straight into its local file,
// and reports per-file progress, completion of the whole batch or the first failure. Runs one batch
// at a time. A request cut off by the network or answered with a server error is tried again, after
// a growing pause, resuming from the bytes already written where the server shows, by the file's
// ETag or Last-Modified, that it still has the same file; otherwise the file starts over. The agent
// runs the batch; each file is fetched by its FileDownload.
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
    // Further attempts after a connection error, a time-out or a server error (5xx), and the pause
    // before the first; it doubles before each further one (RetryBackoff).
    static constexpr int maximumRetries = RetryBackoff::maximumRetries;
    static constexpr int defaultRetryPause = RetryBackoff::defaultFirstPause;
    // A server too slow to be waited for: once a request has run for slowServerGrace ms, its
    // average rate since it began must be at least minimumTransferRate bytes per second. Unlike
    // the time-out, a byte now and then does not keep such a request alive.
    static constexpr int slowServerGrace = 30000;
    static constexpr qint64 minimumTransferRate = 1024;
    // The longest a whole check for updates may run (catalogue, signature and every size request
    // together, retries included); UpdateManager holds it. A component's file has a bound of its
    // own that grows with its size (DownloadRequest::componentDuration).
    static constexpr int maximumCatalogueDuration = 120000;

    // What kind of failure the last failed() was, beside its text.
    using FailureKind = DownloadFailure;

    explicit DownloadAgent(QObject* parent = nullptr);
    ~DownloadAgent() override;

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
    // The text of the last failed(); empty before any.
    QString failureText() const { return lastFailureText; }
    // The Content-Type header of the last successful answer; empty when it had none.
    QByteArray contentType() const;

    // Milliseconds without progress after which a request fails; applies to requests started later.
    void setTransferTimeout(int msecs);
    int transferTimeout() const;

    // The first retry pause of this agent, and of every agent created later.
    void setRetryPause(int msecs);
    int retryPause() const;
    static void setDefaultRetryPause(int msecs);

    // The slow-server bounds of requests started later (the constants above by default); tests
    // shorten them. A maximum duration of 0 leaves only the rate bound and each request's own
    // (DownloadRequest::maximumDuration); otherwise the lower of the two applies.
    void setSlowServerBounds(int graceMsecs, qint64 minimumRate, int maximumDuration);
    int slowServerGraceTime() const;
    qint64 minimumRate() const;
    int maximumDuration() const;

    // The SHA-256 of the bytes the last completed request wrote, whether or not one was required:
    // what a later reader of the file must find again. Valid from the request's completion on.
    QByteArray lastDigest() const;

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

private:
    Q_DISABLE_COPY(DownloadAgent)

    void startNext();
    void onCompleted(const QByteArray& digest);
    void onFailed(FailureKind kind, const QString& reason);

    QList<DownloadRequest> pendingRequests;
    int currentIndex = -1;
    FileDownload* transfer = nullptr;
    FailureKind lastFailureKind = FailureKind::None;
    QString lastFailureText;
};

} // namespace PelkPlus
