#pragma once

#include "CatalogueEntries.h"
#include "CatalogueEntry.h"

#include "update/KeyStatement.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <utility>

namespace PelkPlus {

// Builds an update manifest from the component files a publisher names, and refuses to write one
// that the updater would not read back exactly as meant: every manifest is parsed again with the
// updater's own parser before it replaces the file on disk.
//
// The entries are checked by CatalogueEntries, written as XML and read back by ManifestXml, and
// signed and saved by CatalogueSigner; CatalogueNames reads the publisher's text of an entry.
class CatalogueWriter
{
public:
    // Files are published below root; each URL is baseUrl followed by the file's path below root.
    CatalogueWriter(const QUrl& baseUrl, const QString& root, const QString& releaseDate);

    // Checks the version text for its type and the file, and gives the entry its URL.
    bool addEntry(CatalogueEntry entry, QString* error) { return components.add(std::move(entry), error); }
    const QList<CatalogueEntry>& entries() const { return components.all(); }

    bool isBaseUrlValid(QString* error) const { return components.isBaseUrlValid(error); }

    // The times written on the root element (Published, Expires), inside the signed bytes: an
    // updater that trusts the signing key refuses the catalogue once it has expired, and refuses
    // one published before the newest it has accepted. Both are left out while unset.
    void setValidity(const QDateTime& published, const QDateTime& expires);

    // The key statement every catalogue carries while updaters may still trust only the old key;
    // it is read back from the manifest before it is written.
    void setKeyStatement(const KeyStatement& statement);

    // The manifest text: the products in their fixed order, each with its components in the order
    // they were added.
    QByteArray manifest() const;

    // Writes the manifest to path after reading it back and comparing it with the entries; with
    // secret keys, signed by each of them into path + ".sig". The signature is checked with each
    // key's public half and in place before the new manifest replaces the old one, so that a
    // manifest never appears beside a signature that is not its own; without keys, an old
    // signature is removed. An existing file is replaced only by a manifest that passed.
    bool write(const QString& path, QString* error) const;
    bool write(const QString& path, const QList<QByteArray>& secretKeys, QString* error) const;

private:
    // Whether the manifest's text reads back with the updater's parser as the entries and times
    // it was written from; false with the first difference.
    bool readsBackAsWritten(const QByteArray& text, QString* error) const;

    CatalogueEntries components;
    QString defaultReleaseDate;
    QDateTime publishedAt;
    QDateTime expiresAt;
    KeyStatement keyStatement;
    bool carriesStatement = false;
};

} // namespace PelkPlus
