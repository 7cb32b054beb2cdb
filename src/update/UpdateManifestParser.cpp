#include "update/UpdateManifestParser.h"

#include <QDebug>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

namespace PelkPlus {

namespace {

const char componentNameError[] = "Invalid component name";
const char componentVersionError[] = "Invalid component version";
const char componentReleaseDateError[] = "Invalid component release date";
const char componentUrlError[] = "Invalid component url";

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
    m_states.clear();
    m_error.clear();
    return true;
}

bool UpdateManifestParser::endDocument()
{
    return m_states.isEmpty();
}

bool UpdateManifestParser::startElement(const QString& /*namespaceURI*/, const QString& /*localName*/,
    const QString& qName, const QXmlAttributes& attributes)
{
    if (m_states.size() >= maximumNestingDepth) {
        qCritical("UpdateManifestParser: Manifest nested too deep.");
        m_error = QStringLiteral("Manifest nested too deep");
        return false;
    }
    const ParseState top = m_states.isEmpty() ? Document : m_states.top();
    const QString nameAttribute = attributes.value(QStringLiteral("Name"));

    switch (top) {
    case Document:
        m_states.push(
            qName == QLatin1String("Family") && nameAttribute == QLatin1String("PELK") ? Family : Skip);
        return true;
    case Family: {
        ManifestProduct product;
        if (qName == QLatin1String("Product") && productFromName(nameAttribute, &product)) {
            m_currentProduct = product;
            m_states.push(Product);
        } else {
            m_states.push(Skip);
        }
        return true;
    }
    case Product:
        m_states.push(qName == QLatin1String("Components") ? Components : Skip);
        return true;
    case Components:
        break;
    default:
        m_states.push(Skip);
        return true;
    }

    if (qName != QLatin1String("Component")) {
        m_states.push(Skip);
        return true;
    }

    Component component;
    const char* failure = nullptr;
    if (!componentTypeFromName(m_currentProduct, nameAttribute, &component.type)) {
        failure = componentNameError;
    } else if ((component.version = attributes.value(QStringLiteral("Version"))).isEmpty()) {
        failure = componentVersionError;
    } else if ((component.releaseDate = attributes.value(QStringLiteral("ReleaseDate"))).isEmpty()) {
        failure = componentReleaseDateError;
    } else {
        component.url = QUrl(attributes.value(QStringLiteral("URL")), QUrl::TolerantMode);
        if (component.url.isEmpty())
            failure = componentUrlError;
    }
    if (failure) {
        qCritical(failure);
        m_error = QString::fromLatin1(failure);
        return false;
    }

    m_data[m_currentProduct].append(component);
    // Whatever a component element holds is of no interest.
    m_states.push(Skip);
    return true;
}

bool UpdateManifestParser::endElement(
    const QString& /*namespaceURI*/, const QString& /*localName*/, const QString& /*qName*/)
{
    if (m_states.isEmpty()) {
        qCritical("ERROR: UpdateManifestParser: Failed to pop state.");
        m_error = QStringLiteral("Unbalanced end of element");
        return false;
    }
    m_states.pop();
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
    m_error = QStringLiteral("Manifest declares entities");
    return false;
}

QString UpdateManifestParser::errorString() const
{
    return m_error.isEmpty() ? QXmlDefaultHandler::errorString() : m_error;
}

bool UpdateManifestParser::parse(QXmlInputSource* source)
{
    QXmlSimpleReader reader;
    reader.setContentHandler(this);
    reader.setDeclHandler(this);
    reader.setDTDHandler(this);
    return reader.parse(source, false);
}

} // namespace PelkPlus

QT_WARNING_POP
