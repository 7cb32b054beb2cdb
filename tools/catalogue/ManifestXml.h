#pragma once

#include "CatalogueEntry.h"

#include "update/ManifestData.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace PelkPlus {

class KeyStatement;

// The manifest as XML: written from the entries, and read back with the updater's own parser.
class ManifestXml
{
public:
    // The products in their fixed order, each with its components in the order of entries, every
    // one with the release date. The root element carries the times (Published, Expires) while
    // they are valid, and the key statement, when given, is its first child.
    static QByteArray write(const QList<CatalogueEntry>& entries, const QString& releaseDate,
        const QDateTime& published, const QDateTime& expires, const KeyStatement* statement = nullptr);

    // Parses a manifest with the updater's parser and its bounds; on failure error holds the
    // parser's complaint, and data what it accepted before it.
    static bool readBack(const QByteArray& manifest, ManifestData* data, QString* error);
};

} // namespace PelkPlus
