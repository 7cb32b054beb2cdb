#include "update/KeyStatement.h"

#include "update/CatalogueHeader.h"
#include "update/UpdateManifestParser.h"

#include <QCryptographicHash>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace PelkPlus {

namespace {

const char elementName[] = "KeyStatement";
const char firstLine[] = "pelk-key-statement ed25519";

bool isKeyId(const QString& text)
{
    return text.size() == 16 && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

} // namespace

QByteArray KeyStatement::signedText() const
{
    QByteArray text
        = QByteArray(firstLine) + "\nissued " + CatalogueHeader::timeText(issued).toLatin1() + '\n';
    for (const QByteArray& key : trusted)
        text += "trust " + CatalogueSignature::encodeKey(key) + '\n';
    for (const QByteArray& key : revoked)
        text += "revoke " + CatalogueSignature::encodeKey(key) + '\n';
    return text;
}

QByteArray KeyStatement::digest() const
{
    return QCryptographicHash::hash(signedText(), QCryptographicHash::Sha256);
}

bool KeyStatement::sign(const QList<QByteArray>& secretKeys)
{
    // The signature file's own format, read back into its entries: one way of signing.
    QList<CatalogueSignature::Signature> made;
    if (secretKeys.isEmpty()
        || !CatalogueSignature::parse(CatalogueSignature::sign(signedText(), secretKeys), &made))
        return false;
    signatures = made;
    return true;
}

void KeyStatement::write(QXmlStreamWriter* xml) const
{
    xml->writeStartElement(QLatin1String(elementName));
    xml->writeAttribute(QStringLiteral("Issued"), CatalogueHeader::timeText(issued));
    for (const QByteArray& key : trusted) {
        xml->writeEmptyElement(QStringLiteral("Trust"));
        xml->writeAttribute(QStringLiteral("Key"), QString::fromLatin1(CatalogueSignature::encodeKey(key)));
    }
    for (const QByteArray& key : revoked) {
        xml->writeEmptyElement(QStringLiteral("Revoke"));
        xml->writeAttribute(QStringLiteral("Key"), QString::fromLatin1(CatalogueSignature::encodeKey(key)));
    }
    for (const CatalogueSignature::Signature& signature : signatures) {
        xml->writeEmptyElement(QStringLiteral("Signature"));
        xml->writeAttribute(QStringLiteral("KeyId"), QString::fromLatin1(signature.keyId));
        xml->writeAttribute(QStringLiteral("Value"), QString::fromLatin1(signature.signature.toBase64()));
    }
    xml->writeEndElement();
}

QByteArray KeyStatement::document() const
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    write(&xml);
    xml.writeEndDocument();
    return text;
}

bool KeyStatement::readElement(QXmlStreamReader* xml, KeyStatement* statement, QString* error)
{
    KeyStatement read;
    read.issued = CatalogueHeader::parseTime(xml->attributes().value(QLatin1String("Issued")).toString());
    if (!read.issued.isValid()) {
        *error = QStringLiteral("it does not say when it was issued (Issued)");
        return false;
    }
    while (xml->readNextStartElement()) {
        const QStringRef name = xml->name();
        const QXmlStreamAttributes attributes = xml->attributes();
        if (name == QLatin1String("Trust") || name == QLatin1String("Revoke")) {
            QByteArray key;
            const QString text = attributes.value(QLatin1String("Key")).toString();
            if (!CatalogueSignature::decodeKey(text.toLatin1(), CatalogueSignature::publicKeySize, &key)) {
                *error = QStringLiteral("\"%1\" is not a public key").arg(text.left(60));
                return false;
            }
            QList<QByteArray>& keys = name == QLatin1String("Trust") ? read.trusted : read.revoked;
            if (!keys.contains(key))
                keys.append(key);
        } else if (name == QLatin1String("Signature")) {
            CatalogueSignature::Signature signature;
            const QString id = attributes.value(QLatin1String("KeyId")).toString();
            if (!isKeyId(id)
                || !CatalogueSignature::decodeKey(attributes.value(QLatin1String("Value")).toLatin1(),
                    CatalogueSignature::signatureSize, &signature.signature)) {
                *error = QStringLiteral("a signature is not a key id and an Ed25519 signature");
                return false;
            }
            signature.keyId = id.toLatin1();
            read.signatures.append(signature);
        } else {
            *error = QStringLiteral("it holds an element %1 it has no use for").arg(name.toString().left(40));
            return false;
        }
        xml->skipCurrentElement();
        if (read.trusted.size() + read.revoked.size() > 2 * maximumKeys
            || read.signatures.size() > CatalogueSignature::maximumSignatures) {
            *error = QStringLiteral("it names more keys or signatures than a rotation needs");
            return false;
        }
    }
    if (xml->hasError()) {
        *error = xml->errorString();
        return false;
    }
    if (read.trusted.isEmpty() && read.revoked.isEmpty()) {
        *error = QStringLiteral("it names no key to trust or revoke");
        return false;
    }
    if (read.signatures.isEmpty()) {
        *error = QStringLiteral("it is not signed");
        return false;
    }
    *statement = read;
    return true;
}

bool KeyStatement::readDocument(const QByteArray& document, KeyStatement* statement, QString* error)
{
    QXmlStreamReader xml(document);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String(elementName)) {
        *error = xml.hasError() ? xml.errorString() : QStringLiteral("it is not a key statement");
        return false;
    }
    return readElement(&xml, statement, error);
}

bool KeyStatement::readFromCatalogue(
    const QByteArray& manifest, KeyStatement* statement, bool* found, QString* error)
{
    *found = false;
    QXmlStreamReader xml(manifest);
    // Nothing from outside the document, and no entity declared in it, is ever expanded.
    xml.setEntityResolver(nullptr);
    int depth = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            // The manifest's parser refuses such a document in its own words.
            return true;
        case QXmlStreamReader::StartElement:
            if (++depth > UpdateManifestParser::maximumDepth)
                return true;
            if (depth == 2 && xml.name() == QLatin1String(elementName)) {
                if (*found) {
                    *error = QStringLiteral("the catalogue carries more than one key statement");
                    return false;
                }
                *found = true;
                if (!readElement(&xml, statement, error))
                    return false;
                --depth;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    // A catalogue the reader cannot finish is the parser's to refuse; a statement read whole before
    // that is still checked, for it is signed on its own.
    return true;
}

} // namespace PelkPlus
