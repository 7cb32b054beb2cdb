#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

namespace PelkPlus {

class HttpTestServer;

// The Pelk family's update catalogue as a test serves it: a manifest and one file per component
// on the loopback HTTP server. Every device image carries the version marker that the simulated
// device reads, so a device that installed it reports the version the manifest promised.
class UpdateCatalogue
{
public:
    // Manifest names of the products and components ("PELK", "PELK+", "Pelk Updater"; "MP", "DSP",
    // "Styles", "Ensemble", "Win", "Mac").
    struct Entry
    {
        QString product;
        QString name;
        QString version;
        QString path;
        // What the device holds after installing it (DSP firmware: the decoded bytes).
        QByteArray image;
        // What the server sends (DSP firmware: text lines of hexadecimal bytes).
        QByteArray served;
    };

    explicit UpdateCatalogue(HttpTestServer* server);

    // A device component with an image of the given size; the version marker is placed in it.
    void addComponent(const QString& product, const QString& name, const QString& version, int size);
    // Every component of both products, newer than MCU and DSP Production 1.2, Styles 0x1A2B and
    // Ensemble Audio 0x20014: Production 2.7, 1.2, 0x1A2B and 0x20014. The data images fit one
    // flash sector each, since every sector costs the device a real pause.
    void addFamilyComponents();
    // A package of the updater itself.
    void addApplication(const QString& name, const QString& version);

    // Whether the manifest lists every device image's SHA-256 and size (of the file served).
    void setDigests(bool listed) { digests = listed; }
    // The root element's Published and Expires times; each is left out while invalid.
    void setValidity(const QDateTime& published, const QDateTime& expires);
    // The secret keys the manifest is signed with, one signature each in the ".sig" beside it;
    // none serves no signature.
    void setSigningKeys(const QList<QByteArray>& secretKeys) { signingKeys = secretKeys; }
    // The key statement element the manifest carries first, as written; none when empty.
    void setKeyStatement(const QByteArray& element) { keyStatement = element; }
    // User name and password that every URL of the catalogue carries, the manifest's included.
    void setUserInfo(const QString& userInfo) { urlUserInfo = userInfo; }

    // Serves the manifest and every file; call again after adding entries.
    void publish();

    QUrl manifestUrl() const;
    static QString manifestPath() { return QStringLiteral("/update-manifest.xml"); }
    static QString signaturePath() { return QStringLiteral("/update-manifest.xml.sig"); }
    QByteArray manifest() const;

    const QList<Entry>& entries() const { return entryList; }
    const Entry* find(const QString& product, const QString& name) const;

    // Pseudo-random bytes beginning with the version marker, the same for the same arguments.
    static QByteArray image(int size, const QString& version, quint32 seed);
    // DSP firmware as its files hold it: one "0x.." line per byte.
    static QByteArray dspText(const QByteArray& image);

private:
    HttpTestServer* httpServer;
    QList<Entry> entryList;
    bool digests = false;
    QDateTime publishedAt;
    QDateTime expiresAt;
    QList<QByteArray> signingKeys;
    QString urlUserInfo;
    QByteArray keyStatement;
};

} // namespace PelkPlus
