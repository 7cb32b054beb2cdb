#include "update/CatalogueHeader.h"

#include <QBuffer>
#include <QHash>

// The SAX classes are deprecated in Qt 5.15 but are what reads the manifest; the root element is
// read with the same reader, so that both take the same bytes for the same document.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
#include <QXmlDefaultHandler>
#include <QXmlInputSource>
#include <QXmlSimpleReader>

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

// Keeps the document element's name and attributes, then stops the reader: nothing further of the
// document is read. Entity declarations stop it as they stop the manifest parser.
class RootElementHandler : public QXmlDefaultHandler
{
public:
    bool startElement(const QString& /*namespaceURI*/, const QString& /*localName*/, const QString& qName,
        const QXmlAttributes& attributes) override
    {
        found = true;
        name = qName;
        for (const char* attribute : { "Name", "Published", "Expires" })
            values.insert(QLatin1String(attribute), attributes.value(QLatin1String(attribute)));
        return false;
    }
    bool internalEntityDecl(const QString&, const QString&) override { return false; }
    bool externalEntityDecl(const QString&, const QString&, const QString&) override { return false; }
    bool unparsedEntityDecl(const QString&, const QString&, const QString&, const QString&) override
    {
        return false;
    }

    bool found = false;
    QString name;
    QHash<QString, QString> values;
};

} // namespace

bool CatalogueHeader::isWebPage(const QByteArray& document, const QByteArray& contentType)
{
    return isHtmlType(contentType) || looksLikeHtml(document);
}

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
    if (isWebPage(document, contentType)) {
        header.kind = WebPage;
        return header;
    }
    QBuffer buffer;
    buffer.setData(document);
    buffer.open(QIODevice::ReadOnly);
    QXmlInputSource source(&buffer);
    RootElementHandler handler;
    QXmlSimpleReader reader;
    reader.setContentHandler(&handler);
    reader.setDeclHandler(&handler);
    reader.setDTDHandler(&handler);
    reader.parse(&source, false);
    if (!handler.found)
        return header;
    if (handler.name.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0) {
        header.kind = WebPage;
    } else if (handler.name == QLatin1String("Family")
        && handler.values.value(QStringLiteral("Name")) == QLatin1String("PELK")) {
        header.kind = Catalogue;
        header.published = parseTime(handler.values.value(QStringLiteral("Published")));
        header.expires = parseTime(handler.values.value(QStringLiteral("Expires")));
    } else {
        header.kind = OtherDocument;
    }
    return header;
}

} // namespace PelkPlus

QT_WARNING_POP
