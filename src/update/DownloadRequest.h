#pragma once

#include "update/Component.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QUrl>

namespace PelkPlus {

// One file for the download agent to fetch.
struct DownloadRequest
{
    // A component whose size nobody announced may still not exceed this: far above the largest
    // image a model holds (13 MiB of Ensemble Audio on the Pelk+), far below a full disk.
    static constexpr qint64 maximumComponentSize = 256 * 1024 * 1024;
    // A component's file must arrive within two minutes and a second for every 16 KiB it holds,
    // retries included: 952 s (16 min) for the 13 MiB of the largest image. A server slower than that
    // on average is given up on, however steadily it trickles.
    static constexpr int componentBaseDuration = 120000;
    static constexpr qint64 componentDurationRate = 16 * 1024;

    QUrl url;
    // Local file to write; an existing file is overwritten.
    QString destination;
    // The byte count the file must have when complete, -1 when unknown. More bytes stop the
    // download at once; a different count at the end fails it, so a truncated image never reaches
    // the device.
    qint64 expectedSize = -1;
    // Bytes the file may not exceed, -1 for no bound; the download is stopped once it would.
    qint64 maximumSize = -1;
    // The file must be known to be complete: a size announced before (expectedSize), a
    // Content-Length or a chunked body. A body that merely ends when the connection closes may
    // have been cut short.
    bool requireLength = false;
    // A device image is never a web page: an HTML answer (by its Content-Type or its first bytes)
    // is a network's login or error page, refused whatever else the catalogue says.
    bool refuseWebPage = false;
    // SHA-256 the file must have, 32 bytes; empty for none. Computed as the bytes are written.
    QByteArray sha256;
    // Milliseconds the request may take in all, its retries included; 0 for the agent's bound alone.
    int maximumDuration = 0;

    // The whole bound of a component file of size bytes (the largest of its type when unknown).
    static int componentDuration(ComponentType type, qint64 size)
    {
        const qint64 bytes = size > 0 ? size : qMin(largestComponentSize(type), maximumComponentSize);
        return int(componentBaseDuration + bytes * 1000 / componentDurationRate);
    }

    // A component's URL and local path, bounded and checked by what the manifest and its HEAD
    // request said of it.
    static DownloadRequest forComponent(const Component& component)
    {
        DownloadRequest request;
        request.url = component.url;
        request.destination = component.localPath;
        request.expectedSize = component.size > 0 ? component.size : -1;
        request.maximumSize = maximumComponentSize;
        // The images the device receives (McuFirmware to EnsembleAudio) must be known complete.
        request.requireLength = component.type <= ComponentType::EnsembleAudio;
        request.refuseWebPage = request.requireLength;
        request.sha256 = component.sha256;
        request.maximumDuration = componentDuration(component.type, component.size);
        return request;
    }
};

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::DownloadRequest)
