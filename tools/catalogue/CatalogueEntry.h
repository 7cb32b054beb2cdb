#pragma once

#include "update/ComponentType.h"
#include "update/ManifestProduct.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace PelkPlus {

// One component as the publisher names it on the command line, "<product>:<type>:<version>:<file>",
// and the download URL the catalogue gives it.
struct CatalogueEntry
{
    ManifestProduct product = ManifestProduct::Base;
    ComponentType type = ComponentType::McuFirmware;
    QString version;
    QString filePath;
    // Set when the entry is added to a catalogue: the base URL and the file's path below the root,
    // and the file's SHA-256 (32 bytes) and size in bytes.
    QUrl url;
    QByteArray sha256;
    qint64 size = 0;
};

} // namespace PelkPlus
