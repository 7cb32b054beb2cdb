#pragma once

#include "update/DestinationFile.h"
#include "update/DownloadFailure.h"
#include "update/DownloadRequest.h"
#include "update/ResumeValidator.h"
#include "update/RetryBackoff.h"
#include "update/RetryCountdown.h"

#include <QNetworkReply>
#include <QObject>

class QNetworkAccessManager;
class QTimer;

namespace PelkPlus {

class SlowServerGuard;

// One file of a batch, fetched straight into its destination. A request cut off by the network or
// answered with a server error is tried again after a growing pause, resuming from the bytes
// already written where the server shows that it still serves the same file, and starting over
// where it does not. The bytes are bounded by the request's sizes and checked against its digest.
// DownloadAgent runs the batch; this reports the one file's progress, completion or failure.
class FileDownload : public QObject
{
    Q_OBJECT

public:
    explicit FileDownload(QObject* parent = nullptr);
    ~FileDownload() override;

    // Opens the destination and sends the request. The outcome comes as completed() or failed(),
    // which may be before this returns.
    void start(const DownloadRequest& request);
    // Ends the transfer without a signal; removeFile removes what was written of the file.
    void stop(bool removeFile);

    // Read by each attempt as it is sent or fails, so a change applies from the next attempt on.
    void setTransferTimeout(int msecs) { transferTimeoutMs = msecs; }
    int transferTimeout() const { return transferTimeoutMs; }
    void setRetryPause(int msecs) { retryPauseMs = msecs; }
    int retryPause() const { return retryPauseMs; }
    SlowServerGuard* slowServer() const { return guard; }

    // The Content-Type header of the last successful answer, kept until cleared.
    QByteArray contentType() const { return replyContentType; }
    void clearContentType() { replyContentType.clear(); }
    // The SHA-256 of the bytes the last complete file holds, whether or not one was required.
    QByteArray lastDigest() const { return digestOfLast; }

signals:
    void progress(float fraction);
    // A transient failure is tried again after a pause; text says so to a person.
    void retrying(const QString& text);
    void completed(const QByteArray& digest);
    void failed(PelkPlus::DownloadFailure kind, const QString& reason);

private slots:
    void onReplyHeaders();
    void onReplyAvailable();
    void onReplyProgress(qint64 received, qint64 total);
    void onReplyError(QNetworkReply::NetworkError code);
    void onReplyComplete();

private:
    Q_DISABLE_COPY(FileDownload)

    void sendRequest();
    void startOver();
    // Drops the bytes held and asks for the whole file again, at once and without using up a retry:
    // the server showed that what is held is not part of the file it serves now.
    void restartWhole(const QString& reason);
    // Tries the request again when the failure is transient and attempts remain; fails otherwise.
    void retryOrFail(DownloadFailure kind, const QString& reason, bool transient);
    // The partly written file is removed: what it holds is not the file, and must not be taken for
    // it later. A destination that could not be opened is left as it was.
    void fail(DownloadFailure kind, const QString& reason, bool removeFile = true);
    void releaseReply();

    DownloadRequest request;
    QNetworkAccessManager* network = nullptr;
    QNetworkReply* currentReply = nullptr;
    DestinationFile destination;
    QTimer* retryTimer = nullptr;
    // Bytes of the file written before the current reply began: where it resumes.
    qint64 replyOffset = 0;
    RetryBackoff retries;
    RetryCountdown countdown;
    int transferTimeoutMs;
    int retryPauseMs;
    ResumeValidator heldFile;
    SlowServerGuard* guard = nullptr;
    QByteArray digestOfLast;
    QByteArray replyContentType;
};

} // namespace PelkPlus
