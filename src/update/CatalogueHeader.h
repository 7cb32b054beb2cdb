#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace PelkPlus {

// What the document element of a fetched manifest says, read apart from the manifest's grammar
// (which skips any other document without a word): whether the server sent an update catalogue at
// all, and when the publisher signed it and until when it holds. The two times are attributes of
// the root element, inside the signed bytes:
//
//     <Family Name="PELK" Published="2026-12-01T09:30:00Z" Expires="2026-12-31T09:30:00Z">
class CatalogueHeader
{
public:
    enum Kind {
        // The document element is a Family named "PELK".
        Catalogue,
        // An HTML page: a network's login page, a server's error or index page.
        WebPage,
        // Some other XML document.
        OtherDocument,
        // No document element could be read; the manifest parser says why.
        Unreadable,
    };

    // contentType: the server's Content-Type header, empty when none is known.
    static CatalogueHeader read(const QByteArray& document, const QByteArray& contentType = QByteArray());

    // Whether a document (or its first bytes) with this Content-Type is an HTML page: a login or
    // error page answered in place of a file.
    static bool isWebPage(const QByteArray& document, const QByteArray& contentType);

    // The time form pelk-catalogue writes: ISO 8601 in UTC, to the second.
    static QString timeText(const QDateTime& time);
    // Reads an ISO 8601 time that names its offset from UTC; invalid for anything else.
    static QDateTime parseTime(const QString& text);

    Kind kind = Unreadable;
    // Invalid when the attribute is missing or not such a time.
    QDateTime published;
    QDateTime expires;
};

} // namespace PelkPlus
