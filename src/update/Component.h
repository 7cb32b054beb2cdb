#pragma once

#include "update/ComponentType.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QUrl>

namespace PelkPlus {

// One downloadable component as the manifest lists it.
struct Component
{
    ComponentType type = ComponentType::McuFirmware;
    QUrl url;
    // Where the file was downloaded to; empty until it is.
    QString localPath;
    // As written in the manifest; its format depends on type.
    QString version;
    QString releaseDate;
    // Content-Length of the server's answer to a HEAD request (the catalogue's size where the
    // server gives none); 0 until known.
    qint64 size = 0;
    // The file's size as the publisher listed it (Size), signed with the rest of the catalogue; 0
    // when the manifest gives none.
    qint64 catalogueSize = 0;
    // SHA-256 of the file as the publisher listed it, 32 bytes; empty when the manifest gives none.
    QByteArray sha256;
    // SHA-256 of the file at localPath as its download wrote and checked it, or as it was read when
    // chosen on this computer. The file sent to the device must still have it.
    QByteArray downloadedSha256;
};

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::Component)
