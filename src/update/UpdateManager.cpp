#include "update/UpdateManager.h"

#include "app/ApplicationPaths.h"
#include "app/ConfigurationManager.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/ComponentSizeRequests.h"
#include "update/DownloadAgent.h"
#include "update/DownloadReplies.h"
#include "update/UpdateBundle.h"
#include "update/UpdateManifestParser.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTimer>

namespace PelkPlus {

namespace {

const char manifestFileName[] = "update-manifest.xml";
const char signatureSuffix[] = ".sig";

bool isApplication(ComponentType type)
{
    return type == ComponentType::WindowsApplication || type == ComponentType::MacApplication;
}

QByteArray readAll(const QString& path, qint64 maximum, bool* ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly) && file.size() <= maximum;
    return *ok ? file.readAll() : QByteArray();
}

} // namespace

UpdateManager::UpdateManager(QObject* parent)
    : QObject(parent)
    , manifestAgent(new DownloadAgent(this))
    , sizes(new ComponentSizeRequests(manifestAgent, this))
    , parser(new UpdateManifestParser)
    , checkTimer(new QTimer(this))
    , manifestFile(downloadDirectory() + QLatin1Char('/') + QLatin1String(manifestFileName))
{
    checkTimer->setSingleShot(true);
    checkTimer->setInterval(DownloadAgent::maximumCatalogueDuration);
    connect(checkTimer, &QTimer::timeout, this, &UpdateManager::onCheckTooLong);
    connect(manifestAgent, &DownloadAgent::finished, this, &UpdateManager::downloadFinished);
    connect(manifestAgent, &DownloadAgent::failed, this, &UpdateManager::onManifestFailed);
    connect(manifestAgent, &DownloadAgent::retrying, this, &UpdateManager::retrying);
    connect(sizes, &ComponentSizeRequests::done, this, &UpdateManager::onSizesDone);
    connect(sizes, &ComponentSizeRequests::failed, this, &UpdateManager::onSizeFailed);
    connect(sizes, &ComponentSizeRequests::retrying, this, &UpdateManager::retrying);
}

UpdateManager::~UpdateManager()
{
    // The size requests write into the parser's data: they go before it.
    delete sizes;
    delete parser;
}

QString UpdateManager::downloadDirectory()
{
    return ApplicationPaths::downloadDirectory();
}

void UpdateManager::setTransferTimeout(int msecs)
{
    manifestAgent->setTransferTimeout(msecs);
}

int UpdateManager::transferTimeout() const
{
    return manifestAgent->transferTimeout();
}

void UpdateManager::setRetryPause(int msecs)
{
    manifestAgent->setRetryPause(msecs);
}

void UpdateManager::setSlowServerBounds(int graceMsecs, qint64 minimumRate, int maximumDuration)
{
    manifestAgent->setSlowServerBounds(graceMsecs, minimumRate, 0);
    checkTimer->setInterval(maximumDuration);
}

int UpdateManager::checkBound() const
{
    return checkTimer->interval();
}

void UpdateManager::onCheckTooLong()
{
    if (currentState != Discovering)
        return;
    // The server named is the one still being waited for.
    const QString catalogueServer = DownloadReplies::displayServer(manifestUrl);
    const QString server = manifestAgent->isBusy() ? catalogueServer : sizes->waitingServer();
    manifestAgent->abort();
    const QString text = DownloadReplies::tooLongText(server.isEmpty() ? catalogueServer : server,
        QStringLiteral("the check for updates did not end"), checkBound());
    qCritical().noquote() << "UpdateManager:" << text;
    fail(DownloadFailed, text);
}

QList<Component> UpdateManager::componentsFor(ManifestProduct product) const
{
    return parser->manifestData().value(product);
}

void UpdateManager::resetDiscovery()
{
    sizes->abort();
    checkTimer->stop();
    fetchingSignature = false;
    currentState = Idle;
    parser->clearManifestData();
    parser->clearStateStack();
}

void UpdateManager::useBundle(std::shared_ptr<const UpdateBundle> bundle)
{
    if (currentState == Discovering) {
        qDebug("UpdateManager: The check under way gives way to the update bundle.");
        manifestAgent->abort();
        resetDiscovery();
    }
    localBundle = std::move(bundle);
}

void UpdateManager::cancel()
{
    if (currentState != Discovering)
        return;
    qDebug("UpdateManager: The check was cancelled.");
    manifestAgent->abort();
    resetDiscovery();
    trust.forget();
    emit cancelled();
}

void UpdateManager::useNetwork()
{
    localBundle.reset();
}

void UpdateManager::fail(FailureReason reason, const QString& text)
{
    resetDiscovery();
    trust.forget();
    lastFailureReason = reason;
    lastFailureText = text;
    emit failure();
}

void UpdateManager::checkForUpdates()
{
    if (currentState != Idle) {
        qCritical("UpdateManager: Busy.");
        return;
    }
    parser->clearManifestData();
    parser->clearStateStack();
    currentState = Discovering;
    // A bound of 0 leaves the check to the bounds of its requests alone.
    if (checkTimer->interval() > 0)
        checkTimer->start();
    lastFailureReason = NoFailure;
    lastFailureText.clear();
    trust.forget();

    QString error;
    if (!ApplicationPaths::ensureDownloadDirectory(&error)) {
        qCritical() << "UpdateManager: Failed to create path:" << downloadDirectory() << error;
        fail(DownloadFailed, error);
        return;
    }

    // A bundle's URLs only name its files; what they may be is judged as for a catalogue fetched
    // over plain http.
    manifestUrl = localBundle ? QUrl() : ConfigurationManager::instance()->manifestUrl();
    QString keyProblem;
    // A key that cannot be read must not turn verification off: nothing is fetched until it is mended.
    if (!trust.reload(&keyProblem)) {
        fail(UnverifiedCatalogue, keyProblem);
        return;
    }
    pairFetchedAgain = false;
    fetchManifest();
}

void UpdateManager::fetchManifest()
{
    fetchingSignature = false;
    if (localBundle) {
        // Returns at once, as a check over the network does.
        QMetaObject::invokeMethod(this, &UpdateManager::checkBundle, Qt::QueuedConnection);
        return;
    }
    DownloadRequest request;
    request.url = manifestUrl;
    request.destination = manifestFile;
    // Stops a server that streams without end before it fills the disk.
    request.maximumSize = maximumManifestSize;
    qDebug() << "UpdateManager: Starting download to:" << manifestFile;
    manifestAgent->download(request);
}

void UpdateManager::onManifestFailed(const QString& reason)
{
    if (fetchingSignature && !pairFetchedAgain && manifestAgent->failureKind() == DownloadFailure::Server) {
        // A catalogue signed for the first time is caught between its two files while the
        // signature is not there yet: both are fetched once more, as for a mismatch.
        pairFetchedAgain = true;
        qDebug().noquote() << "UpdateManager: The catalogue's signature is not there (" + reason
                + "); the catalogue and its signature are fetched once more.";
        fetchManifest();
        return;
    }
    if (fetchingSignature) {
        qCritical().noquote() << "UpdateManager: The catalogue could not be verified: no signature:"
                              << reason;
        fail(UnverifiedCatalogue,
            QStringLiteral("The catalogue's signature could not be fetched: %1").arg(reason));
        return;
    }
    fail(DownloadFailed, reason);
}

void UpdateManager::downloadFinished()
{
    if (currentState != Discovering) {
        qCritical("UpdateManager::downloadFinished: unexpected state.");
        return;
    }

    if (!fetchingSignature) {
        bool read = false;
        const QByteArray fetched = readAll(manifestFile, maximumManifestSize, &read);
        if (read && !isCatalogue(fetched, manifestAgent->contentType()))
            return;
    }
    // The signature is fetched once the manifest is in, and checked against the very bytes parsed.
    if (trust.requiresSignature() && !fetchingSignature) {
        fetchingSignature = true;
        DownloadRequest request;
        request.url = manifestUrl;
        request.url.setPath(manifestUrl.path() + QLatin1String(signatureSuffix));
        request.destination = manifestFile + QLatin1String(signatureSuffix);
        request.maximumSize = CatalogueSignature::maximumFileSize;
        manifestAgent->download(request);
        return;
    }

    bool opened = false;
    const QByteArray manifest = readAll(manifestFile, maximumManifestSize, &opened);
    if (!opened) {
        qCritical("UpdateManager: failed to open manifest file.");
        fail(DownloadFailed, QStringLiteral("The manifest file cannot be read."));
        return;
    }
    qDebug("UpdateManager: Manifest file opened.");
    bool signatureRead = false;
    const QByteArray signature = trust.requiresSignature()
        ? readAll(manifestFile + QLatin1String(signatureSuffix), CatalogueSignature::maximumFileSize,
            &signatureRead)
        : QByteArray();
    acceptCatalogue(manifest, signatureRead ? &signature : nullptr);
}

void UpdateManager::checkBundle()
{
    // Dropped, or another source chosen, since the check began.
    if (currentState != Discovering || fetchingSignature || !localBundle)
        return;
    const std::shared_ptr<const UpdateBundle> bundle = localBundle;
    qDebug().noquote() << "UpdateManager: Reading the catalogue of the update bundle" << bundle->path();
    const QByteArray manifest = bundle->manifest();
    if (!isCatalogue(manifest, QByteArray()))
        return;
    const QByteArray signature = bundle->signature();
    acceptCatalogue(manifest, bundle->hasSignature() ? &signature : nullptr);
}

void UpdateManager::acceptCatalogue(const QByteArray& manifest, const QByteArray* signature)
{
    if (refuse(UnverifiedCatalogue, trust.applyKeyStatement(manifest))
        || !verifySignature(manifest, signature)
        || refuse(RefusedCatalogue, trust.freshnessRefusal(manifest)))
        return;

    QBuffer buffer;
    buffer.setData(manifest);
    buffer.open(QIODevice::ReadOnly);
    if (!parser->parseManifest(&buffer)) {
        qCritical("Failed to parse manifest.");
        fail(InvalidManifest, parser->errorString());
        return;
    }
    // What the root element's reader could not read, the parser took for some other document.
    if (headerUnreadable
        && refuse(
            NotACatalogue, QStringLiteral("The document the update server sent is not an update catalogue.")))
        return;
    if (!checkComponentUrls() || refuse(RefusedCatalogue, trust.digestRefusal(parser->manifestData())))
        return;
    QString error;
    // The bundle's files are checked as a download would be, before anything is planned from them.
    if (localBundle && !localBundle->attach(&parser->manifestData(), &error)) {
        refuse(RefusedCatalogue, error);
        return;
    }
    if (!trust.recordAccepted(manifest, &error))
        qCritical().noquote() << "UpdateManager: The newest catalogue accepted cannot be remembered:"
                              << error;

    if (localBundle) {
        const QDateTime published = CatalogueHeader::read(manifest).published;
        manifestTimestamp = published.isValid() ? published : QFileInfo(localBundle->path()).lastModified();
        qDebug("UpdateManager: Manifest parsed.");
        onSizesDone();
        return;
    }
    manifestTimestamp = QFileInfo(manifestFile).lastModified();
    qDebug("UpdateManager: Manifest parsed.");
    sizes->request(&parser->manifestData());
}

bool UpdateManager::isCatalogue(const QByteArray& manifest, const QByteArray& contentType)
{
    const CatalogueHeader header = CatalogueHeader::read(manifest, contentType);
    headerUnreadable = header.kind == CatalogueHeader::Unreadable;
    if (header.kind == CatalogueHeader::WebPage)
        return !refuse(NotACatalogue,
            QStringLiteral("The update server did not send an update catalogue (it sent a web page; a "
                           "network login page may be in the way)."));
    if (header.kind == CatalogueHeader::OtherDocument)
        return !refuse(
            NotACatalogue, QStringLiteral("The document the update server sent is not an update catalogue."));
    return true;
}

bool UpdateManager::refuse(FailureReason reason, const QString& text)
{
    if (text.isEmpty())
        return false;
    qCritical().noquote() << "UpdateManager:" << text;
    fail(reason, text);
    return true;
}

bool UpdateManager::verifySignature(const QByteArray& manifest, const QByteArray* signature)
{
    if (!trust.requiresSignature()) {
        qDebug("UpdateManager: No catalogue signing key is trusted; the catalogue was not verified.");
        return true;
    }
    QString error;
    if (!signature) {
        error = localBundle ? QStringLiteral("the update bundle carries no signature of its catalogue")
                            : QStringLiteral("the signature file cannot be read");
    } else if (trust.verify(manifest, *signature, &error)) {
        qDebug("UpdateManager: Catalogue signature verified.");
        return true;
    }
    if (!pairFetchedAgain) {
        // A catalogue being published may have been caught between its two files (the old
        // manifest beside the new signature, or the other way round): both are fetched once more
        // before the mismatch counts.
        pairFetchedAgain = true;
        qDebug().noquote() << "UpdateManager: The catalogue and its signature do not agree (" + error
                + "); both are fetched once more.";
        fetchManifest();
        return false;
    }
    qCritical().noquote() << "UpdateManager: The catalogue could not be verified:" << error;
    fail(UnverifiedCatalogue, error);
    return false;
}

bool UpdateManager::isAllowedComponentUrl(const QUrl& component, const QUrl& manifest, ComponentType type)
{
    const QString scheme = component.scheme();
    const bool application = isApplication(type);
    const bool loopback = QHostAddress(component.host()).isLoopback()
        || component.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    return scheme == QLatin1String("https")
        || (scheme == QLatin1String("http") && manifest.scheme() != QLatin1String("https")
            && (!application || loopback));
}

bool UpdateManager::checkComponentUrls()
{
    ManifestData& data = parser->manifestData();
    for (QList<Component>& components : data) {
        for (auto it = components.begin(); it != components.end();) {
            const Component& component = *it;
            if (isAllowedComponentUrl(component.url, manifestUrl, component.type)) {
                ++it;
                continue;
            }
            // A package of the updater itself that would come over plain http is left out: nothing
            // else of the catalogue depends on it, and no newer updater is offered from it.
            if (isApplication(component.type) && component.url.scheme() == QLatin1String("http")) {
                qCritical().noquote()
                    << "UpdateManager: The" << componentTypeName(component.type) << component.version
                    << "package is not offered: it would come over http, not https, from"
                    << DownloadReplies::displayUrl(component.url);
                it = components.erase(it);
                continue;
            }
            qCritical() << "UpdateManager: Component URL not allowed:"
                        << DownloadReplies::redactedUrl(component.url);
            qCritical("Failed to parse manifest.");
            fail(InvalidManifest,
                QStringLiteral("Component URL not allowed: %1")
                    .arg(DownloadReplies::displayUrl(component.url)));
            return false;
        }
    }
    return true;
}

void UpdateManager::onSizesDone()
{
    // Idle before the signal, so that a receiver may start the next check at once.
    checkTimer->stop();
    currentState = Idle;
    acceptedCatalogue = parser->manifestData();
    emit updateDiscoveryDone();
}

void UpdateManager::onSizeFailed(const QString& reason)
{
    qCritical().noquote() << "UpdateManager:" << reason;
    fail(DownloadFailed, reason);
}

} // namespace PelkPlus
