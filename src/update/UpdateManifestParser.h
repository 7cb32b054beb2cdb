#pragma once

#include "update/ManifestData.h"

#include <QStack>
#include <QString>
#include <QtGlobal>

// The SAX classes are deprecated in Qt 5.15 but are what reads the manifest.
class QIODevice;

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

    // The bounds every reader of a manifest applies, the updater and the publisher's tool alike.
    // A manifest is a few kilobytes.
    static constexpr qint64 maximumManifestSize = 4 * 1024 * 1024;
    // The grammar uses four levels (Family, Product, Components, Component); a little room is left
    // for what a component may hold. Deeper documents would only exhaust the reader's stack.
    static constexpr int maximumDepth = 16;
    // Far more than a family of devices will ever list; each component costs a size request.
    static constexpr int maximumComponents = 256;

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
    // Reads a whole manifest, refusing one larger than maximumManifestSize before parsing it.
    bool parseManifest(QIODevice* device);

    const ManifestData& manifestData() const { return data; }
    ManifestData& manifestData() { return data; }
    void clearManifestData() { data.clear(); }
    void clearStateStack() { states.clear(); }
    bool isStateStackEmpty() const { return states.isEmpty(); }
    ManifestProduct currentProduct() const { return productBeingRead; }

private:
    Q_DISABLE_COPY(UpdateManifestParser)

    bool refuseEntity();

    QStack<ParseState> states;
    ManifestData data;
    ManifestProduct productBeingRead = ManifestProduct::Base;
    QString error;
    int componentCount = 0;
};

} // namespace PelkPlus

QT_WARNING_POP
