#pragma once

#include "CatalogueEntry.h"

#include "update/ManifestData.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <QString>
#include <QUrl>

namespace PelkPlus {

// Builds an update manifest from the component files a publisher names, and refuses to write one
// that the updater would not read back exactly as meant: every manifest is parsed again with the
// updater's own parser before it replaces the file on disk.
class CatalogueWriter
{
public:
    // Files are published below root; each URL is baseUrl followed by the file's path below root.
    CatalogueWriter(const QUrl& baseUrl, const QString& root, const QString& releaseDate);

    // Splits "<product>:<type>:<version>:<file>". Products are the manifest's names ("PELK",
    // "PELK+", "Pelk Updater", "Pelk Manager") or base, plus, updater, manager; types are the
    // manifest's names ("MP", "DSP", "Styles", "Ensemble", "Win", "Mac") or mcu, dsp, styles,
    // ensemble, win, mac. Whether a type belongs to the product is left to the manifest parser.
    static bool parseEntry(const QString& text, CatalogueEntry* entry, QString* error);

    // The manifest's names of a product and of a component type.
    static QString productName(ManifestProduct product);
    static QString componentName(ComponentType type);

    // Checks the version text for its type and the file, and gives the entry its URL.
    bool addEntry(CatalogueEntry entry, QString* error);
    const QList<CatalogueEntry>& entries() const { return entryList; }

    bool isBaseUrlValid(QString* error) const;

    // The times written on the root element (Published, Expires), inside the signed bytes: an
    // updater that trusts the signing key refuses the catalogue once it has expired, and refuses
    // one published before the newest it has accepted. Both are left out while unset.
    void setValidity(const QDateTime& published, const QDateTime& expires);

    // The manifest text: the products in their fixed order, each with its components in the order
    // they were added.
    QByteArray manifest() const;

    // The SHA-256 of a file; false when it cannot be read.
    static bool fileDigest(const QString& path, QByteArray* digest);

    // Parses a manifest with the updater's parser and its bounds; on failure error holds the parser's
    // complaint.
    static bool readBack(const QByteArray& manifest, ManifestData* data, QString* error);

    // Writes the manifest to path after reading it back and comparing it with the entries; with
    // secret keys, signed by each of them into path + ".sig". The signature is checked with each
    // key's public half and in place before the new manifest replaces the old one, so that a
    // manifest never appears beside a signature that is not its own; without keys, an old
    // signature is removed. An existing file is replaced only by a manifest that passed.
    bool write(const QString& path, QString* error) const;
    bool write(const QString& path, const QList<QByteArray>& secretKeys, QString* error) const;

private:
    static bool checkVersion(const CatalogueEntry& entry, QString* error);
    // The entries in the order the manifest lists them.
    QList<CatalogueEntry> manifestOrder() const;

    QUrl filesBaseUrl;
    QDir rootDir;
    QString defaultReleaseDate;
    QDateTime publishedAt;
    QDateTime expiresAt;
    QList<CatalogueEntry> entryList;
};

} // namespace PelkPlus
