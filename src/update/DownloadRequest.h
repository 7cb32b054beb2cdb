#pragma once

#include "update/Component.h"

#include <QMetaType>
#include <QString>
#include <QUrl>

namespace PelkPlus {

// One file for the download agent to fetch.
struct DownloadRequest
{
    QUrl url;
    // Local file to write; an existing file is overwritten.
    QString destination;
    // The byte count the file must have when complete, -1 when unknown. A different count fails
    // the batch, so a truncated image never reaches the device.
    qint64 expectedSize = -1;
    // Bytes the file may not exceed, -1 for no bound; the download is stopped once it would.
    qint64 maximumSize = -1;

    // A component's URL and local path, expecting the size its HEAD request announced.
    static DownloadRequest forComponent(const Component& component)
    {
        DownloadRequest request;
        request.url = component.url;
        request.destination = component.localPath;
        request.expectedSize = component.size > 0 ? component.size : -1;
        return request;
    }
};

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::DownloadRequest)
