#pragma once

#include "CatalogueEntry.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>
#include <QUrl>

namespace PelkPlus {

// The components of a catalogue, each checked as it is added: a version that every updater reads
// as the publisher meant it, one component per product and type, and a file below the catalogue
// root that the updater would download, with its SHA-256 and its URL.
class CatalogueEntries
{
public:
    // Files are published below root; each URL is baseUrl followed by the file's path below root.
    CatalogueEntries(const QUrl& baseUrl, const QString& root);

    // Checks the version text for its type and the file, and gives the entry its URL and digest.
    bool add(CatalogueEntry entry, QString* error);
    // In the order they were added.
    const QList<CatalogueEntry>& all() const { return entryList; }
    // By product in the manifest's order, each product's in the order they were added.
    QList<CatalogueEntry> manifestOrder() const;

    bool isBaseUrlValid(QString* error) const;

    // The SHA-256 of a file; false when it cannot be read.
    static bool fileDigest(const QString& path, QByteArray* digest);

private:
    static bool checkVersion(const CatalogueEntry& entry, QString* error);

    QUrl filesBaseUrl;
    QDir rootDir;
    QList<CatalogueEntry> entryList;
};

} // namespace PelkPlus
