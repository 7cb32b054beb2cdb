#pragma once

#include "CatalogueEntry.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace PelkPlus {

// Writes an update bundle (see UpdateBundle): a pax tar, gzip-compressed when its name ends in
// .gz or .tgz, holding the manifest, its signature when there is one, and each device component's
// file at its URL's path. Written aside and renamed into place, so that a failed run never leaves
// a bundle behind that is only partly there.
class BundleWriter
{
public:
    // The files of the updater's own packages are left out: they are installed from their URL.
    static bool write(const QString& path, const QByteArray& manifest, const QByteArray& signature,
        const QList<CatalogueEntry>& entries, QString* error);
};

} // namespace PelkPlus
