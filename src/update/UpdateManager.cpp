#include "update/UpdateManager.h"

#include "app/ApplicationPaths.h"
#include "app/ConfigurationManager.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManifestParser.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <utility>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
#include <QXmlInputSource>
QT_WARNING_POP

namespace PelkPlus {

namespace {
const char manifestFileName[] = "update-manifest.xml";
}

UpdateManager::UpdateManager(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_manifestAgent(new DownloadAgent(this))
    , m_parser(new UpdateManifestParser)
    , m_manifestPath(downloadDirectory() + QLatin1Char('/') + QLatin1String(manifestFileName))
    , m_transferTimeout(DownloadAgent::defaultTransferTimeout)
{
    connect(m_manifestAgent, &DownloadAgent::finished, this, &UpdateManager::downloadFinished);
    connect(m_manifestAgent, &DownloadAgent::failed, this, &UpdateManager::onManifestFailed);
}

UpdateManager::~UpdateManager()
{
    // Pending replies go with the network access manager; cut off first so that none of them is
    // reported as aborted, nor reaches the parser deleted here.
    for (QNetworkReply* reply : qAsConst(m_pendingSizeReplies))
        disconnect(reply, nullptr, this, nullptr);
    m_pendingSizeReplies.clear();
    delete m_parser;
}

QString UpdateManager::downloadDirectory()
{
    return ApplicationPaths::downloadDirectory();
}

void UpdateManager::setTransferTimeout(int msecs)
{
    m_transferTimeout = msecs;
    m_manifestAgent->setTransferTimeout(msecs);
}

QList<Component> UpdateManager::componentsFor(ManifestProduct product) const
{
    return m_parser->manifestData().value(product);
}

void UpdateManager::resetDiscovery()
{
    abortPendingReplies();
    m_state = Idle;
    m_parser->clearManifestData();
    m_parser->clearStateStack();
}

void UpdateManager::fail()
{
    resetDiscovery();
    emit failure();
}

void UpdateManager::checkForUpdates()
{
    if (m_state != Idle) {
        qCritical("UpdateManager: Busy.");
        return;
    }
    m_parser->clearManifestData();
    m_parser->clearStateStack();
    m_state = Discovering;

    QString error;
    if (!ApplicationPaths::ensureDownloadDirectory(&error)) {
        qCritical().noquote() << "UpdateManager: Failed to create path:" << downloadDirectory();
        qCritical().noquote() << "UpdateManager:" << error;
        fail();
        return;
    }

    DownloadRequest request;
    request.url = ConfigurationManager::instance()->manifestUrl();
    request.destination = m_manifestPath;
    // Stops a server that streams without end before it fills the disk.
    request.maximumSize = maximumManifestSize;
    qDebug() << "UpdateManager: Starting download to:" << m_manifestPath;
    m_manifestAgent->download(request);
}

void UpdateManager::onManifestFailed()
{
    fail();
}

void UpdateManager::downloadFinished()
{
    if (m_state != Discovering) {
        qCritical("UpdateManager::downloadFinished: unexpected state.");
        return;
    }

    QFile file(m_manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical("UpdateManager: failed to open manifest file.");
        fail();
        return;
    }
    qDebug("UpdateManager: Manifest file opened.");
    if (file.size() > maximumManifestSize) {
        qCritical() << "UpdateManager: Manifest larger than" << maximumManifestSize << "bytes.";
        qCritical("Failed to parse manifest.");
        fail();
        return;
    }

    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QXmlInputSource source(&file);
    const bool parsed = m_parser->parse(&source);
    QT_WARNING_POP
    file.close();
    if (!parsed) {
        qCritical("Failed to parse manifest.");
        fail();
        return;
    }

    m_manifestTime = QFileInfo(m_manifestPath).lastModified();
    qDebug("UpdateManager: Manifest parsed.");
    requestSizes();
}

void UpdateManager::requestSizes()
{
    ManifestData& data = m_parser->manifestData();
    for (auto it = data.begin(); it != data.end(); ++it) {
        const ManifestProduct product = it.key();
        for (int index = 0; index < it.value().size(); ++index) {
            const QUrl url = it.value().at(index).url;
            qDebug() << "Requesting component size for url:" << url;
            QNetworkRequest request(url);
            request.setAttribute(
                QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
            request.setMaximumRedirectsAllowed(DownloadAgent::maximumRedirects);
            request.setTransferTimeout(m_transferTimeout);
            // The size must be that of the bytes the download will write.
            request.setRawHeader("Accept-Encoding", "identity");
            QNetworkReply* reply = m_network->head(request);
            connect(reply, &QNetworkReply::finished, this,
                [this, reply, product, index] { onSizeReply(reply, product, index); });
            m_pendingSizeReplies.append(reply);
        }
    }

    if (m_pendingSizeReplies.isEmpty()) {
        m_state = Idle;
        emit updateDiscoveryDone();
    }
}

void UpdateManager::onSizeReply(QNetworkReply* reply, ManifestProduct product, int index)
{
    // Replies aborted here have been taken off the pending list first; a reply that the transfer
    // time-out aborted is still on it and is a failure like any other.
    if (!m_pendingSizeReplies.contains(reply)) {
        qDebug() << "Component size reply aborted:" << reply->url();
        reply->deleteLater();
        return;
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool http = reply->url().scheme().startsWith(QLatin1String("http"));
    if (reply->error() != QNetworkReply::NoError || (http && (status < 200 || status > 299))) {
        qDebug() << "Component size reply ERROR:" << reply->url();
        if (reply->error() == QNetworkReply::OperationCanceledError)
            qCritical() << "UpdateManager: No answer for" << m_transferTimeout / 1000.0 << "s.";
        else if (status >= 300)
            qCritical() << "UpdateManager: Size request answered HTTP" << status;
        else
            qCritical().noquote() << "UpdateManager:" << reply->errorString();
        m_pendingSizeReplies.removeOne(reply);
        reply->deleteLater();
        fail();
        return;
    }

    Component& component = m_parser->manifestData()[product][index];
    bool ok = false;
    const qint64 size = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    component.size = ok ? size : 0;
    qDebug() << "Size for component: " << componentTypeName(component.type) << "=" << component.size;
    m_pendingSizeReplies.removeOne(reply);
    reply->deleteLater();
    if (m_pendingSizeReplies.isEmpty()) {
        // Idle before the signal, so that a receiver may start the next check at once.
        m_state = Idle;
        emit updateDiscoveryDone();
    }
}

void UpdateManager::abortPendingReplies()
{
    // Taken off the list before the abort, which finishes each reply at once.
    const QList<QNetworkReply*> replies = std::exchange(m_pendingSizeReplies, {});
    for (QNetworkReply* reply : replies)
        reply->abort();
}

} // namespace PelkPlus
