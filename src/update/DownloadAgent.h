#pragma once

#include "update/DownloadRequest.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>

class QFile;
class QNetworkAccessManager;

namespace PelkPlus {

// Downloads a batch of files over HTTP(S), one after the other, each straight into its local file,
// and reports per-file progress, completion of the whole batch or the first failure. Runs one batch
// at a time.
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

    explicit DownloadAgent(QObject* parent = nullptr);
    ~DownloadAgent() override;

    // Starts a batch and returns true, or returns false (and reports nothing) while one is running.
    bool download(const QList<DownloadRequest>& requests);
    bool download(const DownloadRequest& request);
    // Ends the running batch without a signal; the partly written file is removed.
    void abort();

    bool isBusy() const { return !m_requests.isEmpty(); }

    // Milliseconds without progress after which a request fails; applies to requests started later.
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }
    int transferTimeout() const { return m_transferTimeout; }

signals:
    void finished();
    void failed(const QString& reason);
    void progress(int request, float fraction);

private slots:
    void onReplyAvailable();
    void onReplyProgress(qint64 received, qint64 total);
    void onReplyError(QNetworkReply::NetworkError code);
    void onReplyComplete();

private:
    Q_DISABLE_COPY(DownloadAgent)

    void startNext();
    void fail(const QString& reason);
    void releaseReply();
    void releaseFile();

    QList<DownloadRequest> m_requests;
    int m_currentIndex = -1;
    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_reply = nullptr;
    QFile* m_file = nullptr;
    qint64 m_written = 0;
    int m_transferTimeout = defaultTransferTimeout;
};

} // namespace PelkPlus
