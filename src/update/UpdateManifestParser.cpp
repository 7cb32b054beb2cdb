#include "update/UpdateManifestParser.h"

#include <QDebug>
#include <QIODevice>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

namespace PelkPlus {

namespace {

const char componentNameError[] = "Invalid component name";
const char componentVersionError[] = "Invalid component version";
const char componentReleaseDateError[] = "Invalid component release date";
const char componentUrlError[] = "Invalid component url";
const char componentDigestError[] = "Invalid component SHA256";
const char componentSizeError[] = "Invalid component size";

// A Size attribute, when present, is a plain decimal byte count from 1 to what a component of its
// type can be, as the catalogue tool writes it.
bool sizeFromText(const QString& text, ComponentType type, qint64* size)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 1 || value > largestComponentSize(type) || text != QString::number(value))
        return false;
    *size = value;
    return true;
}

// A SHA256 attribute, when present, is exactly 64 lower-case hexadecimal digits, as the catalogue
// tool writes it; anything else is a mistake worth refusing rather than a digest never matched.
bool digestFromText(const QString& text, QByteArray* digest)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    *digest = QByteArray::fromHex(text.toLatin1());
    return true;
}

bool productFromName(const QString& name, ManifestProduct* product)
{
    static const struct
    {
        const char* name;
        ManifestProduct product;
    } products[] = {
        { "PELK", ManifestProduct::Base },
        { "PELK+", ManifestProduct::Plus },
        { "Pelk Updater", ManifestProduct::Updater },
        { "Pelk Manager", ManifestProduct::Manager },
    };
    for (const auto& entry : products) {
        if (name == QLatin1String(entry.name)) {
            *product = entry.product;
            return true;
        }
    }
    return false;
}

bool componentTypeFromName(ManifestProduct product, const QString& name, ComponentType* type)
{
    static const struct
    {
        const char* name;
        ComponentType type;
        bool device;
    } types[] = {
        { "MP", ComponentType::McuFirmware, true },
        { "DSP", ComponentType::DspFirmware, true },
        { "Styles", ComponentType::Styles, true },
        { "Ensemble", ComponentType::EnsembleAudio, true },
        { "Win", ComponentType::WindowsApplication, false },
        { "Mac", ComponentType::MacApplication, false },
    };
    const bool deviceProduct = product == ManifestProduct::Base || product == ManifestProduct::Plus;
    for (const auto& entry : types) {
        if (entry.device == deviceProduct && name == QLatin1String(entry.name)) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

} // namespace

bool UpdateManifestParser::startDocument()
{
    states.clear();
    error.clear();
    componentCount = 0;
    return true;
}

bool UpdateManifestParser::endDocument()
{
    return states.isEmpty();
}

bool UpdateManifestParser::startElement(const QString& /*namespaceURI*/, const QString& /*localName*/,
    const QString& qName, const QXmlAttributes& attributes)
{
    if (states.size() >= maximumDepth) {
        qCritical("UpdateManifestParser: Elements nested deeper than %d; refused.", maximumDepth);
        error = QStringLiteral("Elements nested deeper than %1").arg(maximumDepth);
        return false;
    }
    const ParseState top = states.isEmpty() ? Document : states.top();
    const QString nameAttribute = attributes.value(QStringLiteral("Name"));

    switch (top) {
    case Document:
        states.push(
            qName == QLatin1String("Family") && nameAttribute == QLatin1String("PELK") ? Family : Skip);
        return true;
    case Family: {
        ManifestProduct product;
        if (qName == QLatin1String("Product") && productFromName(nameAttribute, &product)) {
            productBeingRead = product;
            states.push(Product);
        } else {
            states.push(Skip);
        }
        return true;
    }
    case Product:
        states.push(qName == QLatin1String("Components") ? Components : Skip);
        return true;
    case Components:
        break;
    default:
        states.push(Skip);
        return true;
    }

    if (qName != QLatin1String("Component")) {
        states.push(Skip);
        return true;
    }

    Component component;
    const char* failure = nullptr;
    if (!componentTypeFromName(productBeingRead, nameAttribute, &component.type)) {
        failure = componentNameError;
    } else if ((component.version = attributes.value(QStringLiteral("Version"))).isEmpty()) {
        failure = componentVersionError;
    } else if ((component.releaseDate = attributes.value(QStringLiteral("ReleaseDate"))).isEmpty()) {
        failure = componentReleaseDateError;
    } else {
        component.url = QUrl(attributes.value(QStringLiteral("URL")), QUrl::TolerantMode);
        if (component.url.isEmpty())
            failure = componentUrlError;
        else if (attributes.index(QStringLiteral("SHA256")) >= 0
            && !digestFromText(attributes.value(QStringLiteral("SHA256")), &component.sha256))
            failure = componentDigestError;
        else if (attributes.index(QStringLiteral("Size")) >= 0
            && !sizeFromText(
                attributes.value(QStringLiteral("Size")), component.type, &component.catalogueSize))
            failure = componentSizeError;
    }
    if (failure) {
        qCritical(failure);
        error = QString::fromLatin1(failure);
        return false;
    }

    if (++componentCount > maximumComponents) {
        qCritical("UpdateManifestParser: More than %d components; refused.", maximumComponents);
        error = QStringLiteral("More than %1 components").arg(maximumComponents);
        return false;
    }
    data[productBeingRead].append(component);
    // Whatever a component element holds is of no interest.
    states.push(Skip);
    return true;
}

bool UpdateManifestParser::endElement(
    const QString& /*namespaceURI*/, const QString& /*localName*/, const QString& /*qName*/)
{
    if (states.isEmpty()) {
        qCritical("ERROR: UpdateManifestParser: Failed to pop state.");
        error = QStringLiteral("Unbalanced end of element");
        return false;
    }
    states.pop();
    return true;
}

bool UpdateManifestParser::internalEntityDecl(const QString& /*name*/, const QString& /*value*/)
{
    return refuseEntity();
}

bool UpdateManifestParser::externalEntityDecl(
    const QString& /*name*/, const QString& /*publicId*/, const QString& /*systemId*/)
{
    return refuseEntity();
}

bool UpdateManifestParser::unparsedEntityDecl(const QString& /*name*/, const QString& /*publicId*/,
    const QString& /*systemId*/, const QString& /*notationName*/)
{
    return refuseEntity();
}

bool UpdateManifestParser::refuseEntity()
{
    qCritical("UpdateManifestParser: Manifest declares entities; refused.");
    error = QStringLiteral("Manifest declares entities");
    return false;
}

QString UpdateManifestParser::errorString() const
{
    return error.isEmpty() ? QXmlDefaultHandler::errorString() : error;
}

bool UpdateManifestParser::parse(QXmlInputSource* source)
{
    QXmlSimpleReader reader;
    reader.setContentHandler(this);
    reader.setDeclHandler(this);
    reader.setDTDHandler(this);
    return reader.parse(source, false);
}

bool UpdateManifestParser::parseManifest(QIODevice* device)
{
    if (device->size() > maximumManifestSize) {
        qCritical("UpdateManifestParser: Manifest larger than %lld bytes; refused.",
            static_cast<long long>(maximumManifestSize));
        error = QStringLiteral("Manifest larger than %1 bytes").arg(maximumManifestSize);
        return false;
    }
    QXmlInputSource source(device);
    return parse(&source);
}

} // namespace PelkPlus

QT_WARNING_POP
