#pragma once

#include "update/ManifestData.h"

#include <QStack>
#include <QtGlobal>

// The SAX classes are deprecated in Qt 5.15 but are what reads the manifest.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
#include <QXmlDefaultHandler>

namespace PelkPlus {

// Reads an update manifest from the SAX reader's events into ManifestData, validating each component
// as it meets it and stopping the parse at the first invalid one. Install it as the reader's
// content handler, and as its declaration handler so that manifests declaring entities are refused.
class UpdateManifestParser : public QXmlDefaultHandler
{
public:
    enum ParseState {
        Document = 0,
        Family = 1,
        Product = 2,
        Components = 3,
        Skip = 4,
    };

    // The reader descends one call per open element, so a manifest nested without end would
    // exhaust the stack before its end is reached; a manifest itself nests four deep.
    static constexpr int maximumNestingDepth = 256;

    UpdateManifestParser() = default;
    ~UpdateManifestParser() override = default;

    bool startDocument() override;
    bool endDocument() override;
    bool startElement(const QString& namespaceURI, const QString& localName, const QString& qName,
        const QXmlAttributes& attributes) override;
    bool endElement(const QString& namespaceURI, const QString& localName, const QString& qName) override;

    // Entity declarations are how a manifest would be made to swell to gigabytes as it is read; a
    // manifest has no use for them.
    bool internalEntityDecl(const QString& name, const QString& value) override;
    bool externalEntityDecl(const QString& name, const QString& publicId, const QString& systemId) override;
    bool unparsedEntityDecl(const QString& name, const QString& publicId, const QString& systemId,
        const QString& notationName) override;
    QString errorString() const override;

    // Parses a whole document from text with a fresh reader; true when it is valid.
    bool parse(QXmlInputSource* source);

    const ManifestData& manifestData() const { return m_data; }
    ManifestData& manifestData() { return m_data; }
    void clearManifestData() { m_data.clear(); }
    void clearStateStack() { m_states.clear(); }
    bool isStateStackEmpty() const { return m_states.isEmpty(); }
    ManifestProduct currentProduct() const { return m_currentProduct; }

private:
    Q_DISABLE_COPY(UpdateManifestParser)

    bool refuseEntity();

    QStack<ParseState> m_states;
    ManifestData m_data;
    ManifestProduct m_currentProduct = ManifestProduct::Base;
    QString m_error;
};

} // namespace PelkPlus

QT_WARNING_POP
