#include "ManifestXml.h"

#include "CatalogueNames.h"

#include "update/CatalogueHeader.h"
#include "update/KeyStatement.h"
#include "update/UpdateManifestParser.h"

#include <QBuffer>
#include <QXmlStreamWriter>

namespace PelkPlus {

QByteArray ManifestXml::write(const QList<CatalogueEntry>& entries, const QString& releaseDate,
    const QDateTime& published, const QDateTime& expires, const KeyStatement* statement)
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("Family"));
    xml.writeAttribute(QStringLiteral("Name"), QStringLiteral("PELK"));
    if (published.isValid())
        xml.writeAttribute(QStringLiteral("Published"), CatalogueHeader::timeText(published));
    if (expires.isValid())
        xml.writeAttribute(QStringLiteral("Expires"), CatalogueHeader::timeText(expires));
    if (statement)
        statement->write(&xml);
    for (const ManifestProduct product : CatalogueNames::products()) {
        bool opened = false;
        for (const CatalogueEntry& entry : entries) {
            if (entry.product != product)
                continue;
            if (!opened) {
                xml.writeStartElement(QStringLiteral("Product"));
                xml.writeAttribute(QStringLiteral("Name"), CatalogueNames::productName(product));
                xml.writeStartElement(QStringLiteral("Components"));
                opened = true;
            }
            xml.writeEmptyElement(QStringLiteral("Component"));
            xml.writeAttribute(QStringLiteral("Name"), CatalogueNames::componentName(entry.type));
            xml.writeAttribute(QStringLiteral("Version"), entry.version);
            xml.writeAttribute(QStringLiteral("ReleaseDate"), releaseDate);
            xml.writeAttribute(QStringLiteral("URL"), QString::fromLatin1(entry.url.toEncoded()));
            xml.writeAttribute(QStringLiteral("SHA256"), QString::fromLatin1(entry.sha256.toHex()));
            xml.writeAttribute(QStringLiteral("Size"), QString::number(entry.size));
        }
        if (opened) {
            xml.writeEndElement(); // Components
            xml.writeEndElement(); // Product
        }
    }
    xml.writeEndElement(); // Family
    xml.writeEndDocument();
    return text;
}

bool ManifestXml::readBack(const QByteArray& manifest, ManifestData* data, QString* error)
{
    UpdateManifestParser parser;
    QBuffer buffer;
    buffer.setData(manifest);
    buffer.open(QIODevice::ReadOnly);
    // The same bounds as the updater's, so that what passes here is read there.
    const bool ok = parser.parseManifest(&buffer);
    *data = parser.manifestData();
    if (!ok)
        *error = parser.errorString();
    return ok;
}

} // namespace PelkPlus
