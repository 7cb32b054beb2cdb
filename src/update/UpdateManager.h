#pragma once

#include "update/CatalogueTrust.h"
#include "update/ManifestData.h"
#include "update/UpdateManifestParser.h"

#include <QDateTime>
#include <QList>
#include <QUrl>
#include <QObject>
#include <QString>

#include <memory>

class QTimer;

namespace PelkPlus {

class ComponentSizeRequests;
class DownloadAgent;
class UpdateBundle;

// Update discovery: downloads the manifest from the configured URL, parses it, asks the size of
// every listed component with a HEAD request (ComponentSizeRequests) and reports
// updateDiscoveryDone, or failure. With an update bundle in use, the bundle's catalogue and files
// take the network's place, under the same rules.
class UpdateManager : public QObject
{
    Q_OBJECT

public:
    enum State {
        Idle = 0,
        Discovering = 1,
    };

    // Why the last discovery failed, for the window to say so in words.
    enum FailureReason {
        NoFailure = 0,
        // The manifest or a size request could not be fetched, or a file not be written.
        DownloadFailed = 1,
        // The manifest is not one the updater accepts.
        InvalidManifest = 2,
        // Trusted keys are set and the manifest's signature is missing, malformed or wrong; or a
        // trusted-key setting cannot be read, which refuses every catalogue until it is mended; or
        // the key statement it carries is refused.
        UnverifiedCatalogue = 3,
        // The server sent something else: a web page (a network's login page), another document.
        NotACatalogue = 4,
        // The catalogue is signed by a trusted key but refused: it has expired, is older than one
        // already accepted, or leaves a device image without its digest.
        RefusedCatalogue = 5,
    };

    // A manifest is a few kilobytes; anything near this is not one.
    static constexpr qint64 maximumManifestSize = UpdateManifestParser::maximumManifestSize;

    explicit UpdateManager(QObject* parent = nullptr);
    ~UpdateManager() override;

    // Starts a discovery and returns at once; the result comes as updateDiscoveryDone or failure.
    void checkForUpdates();
    void resetDiscovery();
    // Ends a discovery under way at once: every request of it is aborted and cancelled() is
    // emitted instead of a result. Nothing happens when none runs.
    void cancel();

    // From the next check on, the catalogue is the bundle's and every device component is given
    // its file from it: nothing is fetched. A check under way is dropped. The bundle is kept while
    // any plan made from it may still send its files.
    void useBundle(std::shared_ptr<const UpdateBundle> bundle);
    // The catalogue is fetched from the configured URL again.
    void useNetwork();
    std::shared_ptr<const UpdateBundle> bundle() const { return localBundle; }

    // Last-modified time of the manifest after the last successful parse; invalid before one.
    QDateTime manifestTime() const { return manifestTimestamp; }
    // The components of one product in manifest order; valid from updateDiscoveryDone to the next
    // checkForUpdates.
    QList<Component> componentsFor(ManifestProduct product) const;
    // Every product's components of the last check in this run that ended in updateDiscoveryDone,
    // kept through later checks and their failures: what a file chosen on this computer is
    // recognised by. Empty before the first.
    const ManifestData& lastAcceptedCatalogue() const { return acceptedCatalogue; }

    State state() const { return currentState; }
    QString manifestPath() const { return manifestFile; }
    // Components come over the web only, and over https alone once the manifest did: a manifest
    // must not name a local file, nor undo the protection it came with. The updater's own packages
    // (WindowsApplication, MacApplication) are run by whoever downloads them: https alone, whatever
    // the manifest came over, unless they come from this computer (a loopback address), where no
    // network lies between. A check leaves such a package over http out of the catalogue, logged,
    // and goes on with the rest; any other URL not allowed refuses the whole catalogue.
    static bool isAllowedComponentUrl(const QUrl& component, const QUrl& manifest, ComponentType type);

    // Where the manifest and the component files are downloaded to.
    static QString downloadDirectory();

    // Milliseconds without progress after which the manifest download or a size request fails.
    void setTransferTimeout(int msecs);
    int transferTimeout() const;
    // The first pause before a failed request is tried again (DownloadAgent::setRetryPause).
    void setRetryPause(int msecs);
    // The slow-server bounds of the manifest, its signature and the size requests (the
    // DownloadAgent constants by default); tests shorten them. A size request, having no body, is
    // too slow once it has waited the grace time. maximumDuration bounds the whole check, from
    // the catalogue's first byte asked to the last size known, its retries included.
    void setSlowServerBounds(int graceMsecs, qint64 minimumRate, int maximumDuration);
    int checkBound() const;

    // Set with failure; NoFailure from the next checkForUpdates on.
    FailureReason failureReason() const { return lastFailureReason; }
    // The cause of the last failure as logged, for details.
    QString failureText() const { return lastFailureText; }
    // The catalogue's address of the last check; empty for a bundle's.
    QUrl catalogueUrl() const { return manifestUrl; }
    // Whether the catalogue of the last successful discovery carried a signature by a trusted key;
    // false while no key is trusted.
    bool isCatalogueVerified() const { return trust.isVerified(); }

signals:
    void updateDiscoveryDone();
    void failure();
    // The discovery was ended by cancel(); no failure, nothing to tell.
    void cancelled();
    // A request of the check failed for a moment and is tried again; text says so to a person.
    void retrying(const QString& text);

private:
    Q_DISABLE_COPY(UpdateManager)

    void fetchManifest();
    void downloadFinished();
    void onManifestFailed(const QString& reason);
    bool isCatalogue(const QByteArray& manifest, const QByteArray& contentType);
    // Fails the check with text, logged, and returns true; returns false for an empty text.
    bool refuse(FailureReason reason, const QString& text);
    // signature is null when it could not be read.
    bool verifySignature(const QByteArray& manifest, const QByteArray* signature);
    // Every rule of a catalogue from its bytes on: key statement, signature, freshness, parse,
    // URLs, digests; then the sizes, asked of the server or taken from the bundle's files.
    void acceptCatalogue(const QByteArray& manifest, const QByteArray* signature);
    void checkBundle();
    bool checkComponentUrls();
    void onSizesDone();
    void onSizeFailed(const QString& reason);
    void fail(FailureReason reason, const QString& text);
    void onCheckTooLong();

    DownloadAgent* manifestAgent = nullptr;
    ComponentSizeRequests* sizes = nullptr;
    UpdateManifestParser* parser = nullptr;
    // The whole check's bound: one for the catalogue, its signature and every size together.
    QTimer* checkTimer = nullptr;
    State currentState = Idle;
    QString manifestFile;
    QDateTime manifestTimestamp;
    QUrl manifestUrl;
    std::shared_ptr<const UpdateBundle> localBundle;
    ManifestData acceptedCatalogue;
    CatalogueTrust trust;
    // Unreadable by the root element's reader: only the parser can tell whether it is a catalogue.
    bool headerUnreadable = false;
    // Set while the signature is being fetched, after the manifest.
    bool fetchingSignature = false;
    // Set once the catalogue and its signature have been fetched a second time in this check.
    bool pairFetchedAgain = false;
    FailureReason lastFailureReason = NoFailure;
    QString lastFailureText;
};

} // namespace PelkPlus
