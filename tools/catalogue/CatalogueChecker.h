#pragma once

#include "update/ManifestData.h"

#include <QString>
#include <QStringList>

namespace PelkPlus {

// Checks a published catalogue against the files it lists: each must lie below the catalogue root,
// be no larger than the updater downloads, and have the SHA-256 the manifest gives it.
class CatalogueChecker
{
public:
    // A URL's file is found below root by the URL's path with as few leading segments dropped as
    // needed ("http://host/pelk/plus/a.bin" is root/pelk/plus/a.bin, else root/plus/a.bin, ...).
    static QString localFile(const QUrl& url, const QString& root);

    // One line per problem; true when there is none.
    static bool checkFiles(const ManifestData& data, const QString& root, QStringList* problems);
};

} // namespace PelkPlus
