#include "update/ComponentSizeRequests.h"

#include "update/DownloadAgent.h"
#include "update/DownloadReplies.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <utility>

namespace PelkPlus {

namespace {

// Marks a size request given up as too slow, so that its failure says so.
const char tooSlowProperty[] = "pelkTooSlow";

} // namespace

ComponentSizeRequests::ComponentSizeRequests(const DownloadAgent* bounds, QObject* parent)
    : QObject(parent)
    , bounds(bounds)
    , network(new QNetworkAccessManager(this))
{
    connect(&countdown, &RetryCountdown::retrying, this, &ComponentSizeRequests::retrying);
}

ComponentSizeRequests::~ComponentSizeRequests()
{
    // Pending replies go with the network access manager; cut off first so that none of them is
    // reported as aborted, nor reaches the components' data, which may be gone already.
    for (QNetworkReply* reply : qAsConst(pendingSizeReplies))
        disconnect(reply, nullptr, this, nullptr);
    pendingSizeReplies.clear();
}

void ComponentSizeRequests::request(ManifestData* data)
{
    components = data;
    for (auto it = data->cbegin(); it != data->cend(); ++it) {
        for (int index = 0; index < it.value().size(); ++index)
            requestSize(it.key(), index);
    }
    if (pendingSizeReplies.isEmpty())
        emit done();
}

void ComponentSizeRequests::abort()
{
    ++generation;
    countdown.stop();
    pendingRetries = 0;
    sizeRetries.clear();
    // Taken off the list before the abort, which finishes each reply at once.
    const QList<QNetworkReply*> replies = std::exchange(pendingSizeReplies, {});
    for (QNetworkReply* reply : replies)
        reply->abort();
}

QString ComponentSizeRequests::waitingServer() const
{
    return pendingSizeReplies.isEmpty() ? lastRetriedServer
                                        : DownloadReplies::displayServer(pendingSizeReplies.first()->url());
}

void ComponentSizeRequests::requestSize(ManifestProduct product, int index)
{
    const QUrl url = components->value(product).value(index).url;
    qDebug() << "Requesting component size for url:" << DownloadReplies::redactedUrl(url);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(DownloadAgent::maximumRedirects);
    request.setTransferTimeout(bounds->transferTimeout());
    // The size must be that of the bytes the download will write.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* reply = network->head(request);
    connect(reply, &QNetworkReply::finished, this,
        [this, reply, product, index] { onSizeReply(reply, product, index); });
    pendingSizeReplies.append(reply);
    // An answer without a body has no rate: one that has not come within the grace time is too slow.
    QTimer::singleShot(bounds->slowServerGraceTime(), reply, [this, reply] {
        if (!pendingSizeReplies.contains(reply) || reply->isFinished())
            return;
        reply->setProperty(tooSlowProperty, true);
        reply->abort();
    });
}

void ComponentSizeRequests::onSizeReply(QNetworkReply* reply, ManifestProduct product, int index)
{
    // Replies aborted here have been taken off the pending list first; a reply that the transfer
    // time-out aborted is still on it and is a failure like any other.
    if (!pendingSizeReplies.contains(reply)) {
        qDebug() << "Component size reply aborted:" << DownloadReplies::redactedUrl(reply->url());
        reply->deleteLater();
        return;
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool http = reply->url().scheme().startsWith(QLatin1String("http"));
    if (reply->error() != QNetworkReply::NoError || (http && (status < 200 || status > 299))) {
        pendingSizeReplies.removeOne(reply);
        reply->deleteLater();
        QString reason = QStringLiteral("HTTP %1").arg(status);
        if (reply->property(tooSlowProperty).toBool())
            reason = DownloadReplies::tooSlowText(DownloadReplies::displayServer(reply->url()), 0,
                bounds->slowServerGraceTime(), bounds->minimumRate());
        else if (reply->error() != QNetworkReply::NoError)
            reason = DownloadReplies::failureText(reply, bounds->transferTimeout());
        RetryBackoff& retries = sizeRetries[qMakePair(int(product), index)];
        const int pause
            = DownloadReplies::isTransient(reply->error(), status) ? retries.next(bounds->retryPause()) : -1;
        if (pause >= 0) {
            const int attempts = retries.retriesTaken();
            qDebug().noquote() << "UpdateManager: Retry" << attempts << "of" << DownloadAgent::maximumRetries
                               << "in" << pause / 1000.0 << "s of the size request for"
                               << DownloadReplies::displayUrl(reply->url()) << "after:" << reason;
            ++pendingRetries;
            lastRetriedServer = DownloadReplies::displayServer(reply->url());
            countdown.start(attempts, pause, reason);
            const int planned = generation;
            QTimer::singleShot(pause, this, [this, planned, product, index] {
                if (planned != generation)
                    return;
                countdown.finish();
                --pendingRetries;
                requestSize(product, index);
            });
            return;
        }
        qDebug() << "Component size reply ERROR:" << DownloadReplies::redactedUrl(reply->url());
        emit failed(reason);
        return;
    }

    Component& component = (*components)[product][index];
    const qint64 announced = qMax<qint64>(DownloadReplies::announcedLength(reply), 0);
    pendingSizeReplies.removeOne(reply);
    reply->deleteLater();
    const QString problem = sizeProblem(component, announced);
    if (!problem.isEmpty()) {
        qDebug() << "Component size reply refused:" << DownloadReplies::redactedUrl(reply->url());
        emit failed(problem);
        return;
    }
    // Where the server gives no size, the catalogue's is the one the download must have.
    component.size = announced > 0 ? announced : component.catalogueSize;
    qDebug() << "Size for component: " << componentTypeName(component.type) << "=" << component.size;
    if (isFinished())
        emit done();
}

QString ComponentSizeRequests::sizeProblem(const Component& component, qint64 announced)
{
    const QString name = QStringLiteral("%1 %2").arg(componentTypeName(component.type), component.version);
    if (component.catalogueSize > 0 && announced > 0 && announced != component.catalogueSize)
        return QStringLiteral(
            "The server announces %1 bytes for %2, but the update catalogue lists %3 bytes; "
            "the file is not the one the catalogue describes.")
            .arg(announced)
            .arg(name)
            .arg(component.catalogueSize);
    if (announced > largestComponentSize(component.type))
        return QStringLiteral(
            "The server announces %1 bytes for %2, more than such a file can be (%3 bytes); "
            "it is not serving that component.")
            .arg(announced)
            .arg(name)
            .arg(largestComponentSize(component.type));
    return QString();
}

} // namespace PelkPlus
