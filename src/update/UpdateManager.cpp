#include "update/UpdateManager.h"

#include "app/ApplicationPaths.h"
#include "app/ConfigurationManager.h"
#include "update/CatalogueFreshness.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/ComponentSizeRequests.h"
#include "update/DownloadAgent.h"
#include "update/DownloadReplies.h"
#include "update/UpdateManifestParser.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace PelkPlus {

namespace {

const char manifestFileName[] = "update-manifest.xml";
const char signatureSuffix[] = ".sig";

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
    , manifestFile(downloadDirectory() + QLatin1Char('/') + QLatin1String(manifestFileName))
{
    manifestAgent->setSlowServerBounds(DownloadAgent::slowServerGrace, DownloadAgent::minimumTransferRate,
        DownloadAgent::maximumCatalogueDuration);
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
    manifestAgent->setSlowServerBounds(graceMsecs, minimumRate, maximumDuration);
}

QList<Component> UpdateManager::componentsFor(ManifestProduct product) const
{
    return parser->manifestData().value(product);
}

void UpdateManager::resetDiscovery()
{
    sizes->abort();
    fetchingSignature = false;
    currentState = Idle;
    parser->clearManifestData();
    parser->clearStateStack();
}

void UpdateManager::fail(FailureReason reason, const QString& text)
{
    resetDiscovery();
    catalogueVerified = false;
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
    lastFailureReason = NoFailure;
    lastFailureText.clear();
    catalogueVerified = false;
    verifiedBy.clear();

    QString error;
    if (!ApplicationPaths::ensureDownloadDirectory(&error)) {
        qCritical() << "UpdateManager: Failed to create path:" << downloadDirectory() << error;
        fail(DownloadFailed, error);
        return;
    }

    manifestUrl = ConfigurationManager::instance()->manifestUrl();
    QString keyProblem;
    trustedKeys = CatalogueSignature::trustedKeys(&keyProblem);
    // A key that cannot be read must not turn verification off: nothing is fetched until it is mended.
    if (!keyProblem.isEmpty()) {
        fail(UnverifiedCatalogue, keyProblem);
        return;
    }
    fetchingSignature = false;
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
    if (!trustedKeys.isEmpty() && !fetchingSignature) {
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
    if (!verifySignature(manifest) || !checkFreshness(manifest))
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
    if (headerUnreadable) {
        const QString text
            = QStringLiteral("The document the update server sent is not an update catalogue.");
        qCritical().noquote() << "UpdateManager:" << text;
        fail(NotACatalogue, text);
        return;
    }
    if (!checkComponentUrls() || !checkDigests())
        return;
    if (catalogueVerified) {
        QString error;
        if (!CatalogueFreshness().recordAccepted(
                verifiedBy, CatalogueHeader::read(manifest).published, &error))
            qCritical().noquote() << "UpdateManager: The newest catalogue accepted cannot be remembered:"
                                  << error;
    }

    manifestTimestamp = QFileInfo(manifestFile).lastModified();
    qDebug("UpdateManager: Manifest parsed.");
    sizes->request(&parser->manifestData());
}

bool UpdateManager::isCatalogue(const QByteArray& manifest, const QByteArray& contentType)
{
    const CatalogueHeader header = CatalogueHeader::read(manifest, contentType);
    headerUnreadable = header.kind == CatalogueHeader::Unreadable;
    QString text;
    if (header.kind == CatalogueHeader::WebPage) {
        text = QStringLiteral("The update server did not send an update catalogue (it sent a web page; a "
                              "network login page may be in the way).");
    } else if (header.kind == CatalogueHeader::OtherDocument) {
        text = QStringLiteral("The document the update server sent is not an update catalogue.");
    } else {
        return true;
    }
    qCritical().noquote() << "UpdateManager:" << text;
    fail(NotACatalogue, text);
    return false;
}

bool UpdateManager::checkFreshness(const QByteArray& manifest)
{
    if (!catalogueVerified)
        return true;
    const QString refusal = CatalogueFreshness().refusal(
        CatalogueHeader::read(manifest), verifiedBy, QDateTime::currentDateTimeUtc());
    if (refusal.isEmpty())
        return true;
    qCritical().noquote() << "UpdateManager:" << refusal;
    fail(RefusedCatalogue, refusal);
    return false;
}

bool UpdateManager::checkDigests()
{
    if (!catalogueVerified)
        return true;
    // The signature covers the manifest; only a digest carries that over to the image sent.
    const ManifestData& data = parser->manifestData();
    for (const ManifestProduct product : { ManifestProduct::Base, ManifestProduct::Plus }) {
        for (const Component& component : data.value(product)) {
            if (!component.sha256.isEmpty())
                continue;
            const QString text = QStringLiteral("The update catalogue lists %1 %2 without its SHA256 digest, "
                                                "so the file could not be checked; the catalogue is refused.")
                                     .arg(componentTypeName(component.type), component.version);
            qCritical().noquote() << "UpdateManager:" << text;
            fail(RefusedCatalogue, text);
            return false;
        }
    }
    return true;
}

bool UpdateManager::verifySignature(const QByteArray& manifest)
{
    if (trustedKeys.isEmpty()) {
        qDebug("UpdateManager: No catalogue signing key is trusted; the catalogue was not verified.");
        return true;
    }
    bool read = false;
    const QByteArray signature
        = readAll(manifestFile + QLatin1String(signatureSuffix), CatalogueSignature::maximumFileSize, &read);
    QString error;
    if (!read) {
        error = QStringLiteral("the signature file cannot be read");
    } else if (CatalogueSignature::verify(manifest, signature, trustedKeys, &error, &verifiedBy)) {
        qDebug("UpdateManager: Catalogue signature verified.");
        catalogueVerified = true;
        return true;
    }
    qCritical().noquote() << "UpdateManager: The catalogue could not be verified:" << error;
    fail(UnverifiedCatalogue, error);
    return false;
}

bool UpdateManager::isAllowedComponentUrl(const QUrl& component, const QUrl& manifest)
{
    const QString scheme = component.scheme();
    return scheme == QLatin1String("https")
        || (scheme == QLatin1String("http") && manifest.scheme() != QLatin1String("https"));
}

bool UpdateManager::checkComponentUrls()
{
    const ManifestData& data = parser->manifestData();
    for (const QList<Component>& components : data) {
        for (const Component& component : components) {
            if (isAllowedComponentUrl(component.url, manifestUrl))
                continue;
            qCritical() << "UpdateManager: Component URL not allowed:"
                        << component.url.adjusted(QUrl::RemoveUserInfo);
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
    currentState = Idle;
    emit updateDiscoveryDone();
}

void UpdateManager::onSizeFailed(const QString& reason)
{
    qCritical().noquote() << "UpdateManager:" << reason;
    fail(DownloadFailed, reason);
}

} // namespace PelkPlus
