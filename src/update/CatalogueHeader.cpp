#include "update/CatalogueHeader.h"

#include <QXmlStreamReader>

namespace PelkPlus {

namespace {

// A login page need not be well-formed XML; its first bytes still give it away.
bool looksLikeHtml(const QByteArray& document)
{
    QByteArray start = document.left(512).trimmed().toLower();
    if (start.startsWith("\xef\xbb\xbf"))
        start = start.mid(3).trimmed();
    return start.startsWith("<!doctype html") || start.startsWith("<html");
}

bool isHtmlType(const QByteArray& contentType)
{
    // After a redirect the framework may keep the redirect's header and add the final answer's,
    // separated by a comma: the last one is the body's.
    const QByteArray type = contentType.mid(contentType.lastIndexOf(',') + 1).trimmed().toLower();
    return type.startsWith("text/html") || type.startsWith("application/xhtml+xml");
}

} // namespace

QString CatalogueHeader::timeText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

QDateTime CatalogueHeader::parseTime(const QString& text)
{
    const QDateTime time = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    // A time without an offset would be read in whatever zone the computer is in.
    if (!time.isValid() || time.timeSpec() == Qt::LocalTime)
        return QDateTime();
    return time.toUTC();
}

CatalogueHeader CatalogueHeader::read(const QByteArray& document, const QByteArray& contentType)
{
    CatalogueHeader header;
    if (isHtmlType(contentType) || looksLikeHtml(document)) {
        header.kind = WebPage;
        return header;
    }
    QXmlStreamReader reader(document);
    // Names as written, as the manifest parser matches them.
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.qualifiedName().compare(QLatin1String("html"), Qt::CaseInsensitive) == 0) {
            header.kind = WebPage;
        } else if (reader.qualifiedName() == QLatin1String("Family")
            && attributes.value(QLatin1String("Name")) == QLatin1String("PELK")) {
            header.kind = Catalogue;
            header.published = parseTime(attributes.value(QLatin1String("Published")).toString());
            header.expires = parseTime(attributes.value(QLatin1String("Expires")).toString());
        } else {
            header.kind = OtherDocument;
        }
        return header;
    }
    return header;
}

} // namespace PelkPlus
