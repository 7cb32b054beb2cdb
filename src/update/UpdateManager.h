#pragma once

#include "update/ManifestData.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

namespace PelkPlus {

class DownloadAgent;
class UpdateManifestParser;

// Update discovery: downloads the manifest from the configured URL, parses it, asks the size of
// every listed component with a HEAD request and reports updateDiscoveryDone, or failure.
class UpdateManager : public QObject
{
    Q_OBJECT

public:
    enum State {
        Idle = 0,
        Discovering = 1,
    };

    // A manifest is a few kilobytes; anything near this is not one.
    static constexpr qint64 maximumManifestSize = 4 * 1024 * 1024;

    explicit UpdateManager(QObject* parent = nullptr);
    ~UpdateManager() override;

    // Starts a discovery and returns at once; the result comes as updateDiscoveryDone or failure.
    void checkForUpdates();
    void resetDiscovery();

    // Last-modified time of the manifest after the last successful parse; invalid before one.
    QDateTime manifestTime() const { return m_manifestTime; }
    // The components of one product in manifest order; valid from updateDiscoveryDone to the next
    // checkForUpdates.
    QList<Component> componentsFor(ManifestProduct product) const;

    State state() const { return m_state; }
    QString manifestPath() const { return m_manifestPath; }
    // Where the manifest and the component files are downloaded to.
    static QString downloadDirectory();

    // Milliseconds without progress after which the manifest download or a size request fails.
    void setTransferTimeout(int msecs);
    int transferTimeout() const { return m_transferTimeout; }

signals:
    void updateDiscoveryDone();
    void failure();

private:
    Q_DISABLE_COPY(UpdateManager)

    void downloadFinished();
    void onManifestFailed();
    void requestSizes();
    void onSizeReply(QNetworkReply* reply, ManifestProduct product, int index);
    void abortPendingReplies();
    void fail();

    QNetworkAccessManager* m_network = nullptr;
    DownloadAgent* m_manifestAgent = nullptr;
    UpdateManifestParser* m_parser = nullptr;
    State m_state = Idle;
    QString m_manifestPath;
    QList<QNetworkReply*> m_pendingSizeReplies;
    QDateTime m_manifestTime;
    int m_transferTimeout;
};

} // namespace PelkPlus
