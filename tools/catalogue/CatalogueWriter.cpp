#include "CatalogueWriter.h"

#include "CatalogueNames.h"
#include "CatalogueSigner.h"
#include "ManifestXml.h"

#include "update/CatalogueHeader.h"

namespace PelkPlus {

CatalogueWriter::CatalogueWriter(const QUrl& baseUrl, const QString& root, const QString& releaseDate)
    : components(baseUrl, root)
    , defaultReleaseDate(releaseDate)
{ }

void CatalogueWriter::setValidity(const QDateTime& published, const QDateTime& expires)
{
    // To the second, as written.
    auto seconds = [](const QDateTime& time) {
        return time.isValid() ? QDateTime::fromSecsSinceEpoch(time.toSecsSinceEpoch(), Qt::UTC) : QDateTime();
    };
    publishedAt = seconds(published);
    expiresAt = seconds(expires);
}

void CatalogueWriter::setKeyStatement(const KeyStatement& statement)
{
    keyStatement = statement;
    carriesStatement = true;
}

QByteArray CatalogueWriter::manifest() const
{
    return ManifestXml::write(components.manifestOrder(), defaultReleaseDate, publishedAt, expiresAt,
        carriesStatement ? &keyStatement : nullptr);
}

bool CatalogueWriter::readsBackAsWritten(const QByteArray& text, QString* error) const
{
    const QList<CatalogueEntry> ordered = components.manifestOrder();
    ManifestData data;
    QString complaint;
    const bool parsed = ManifestXml::readBack(text, &data, &complaint);
    QList<Component> read;
    for (const ManifestProduct product : CatalogueNames::products())
        read += data.value(product);

    if (!parsed) {
        // The parser stops at the first component it refuses; all before it were accepted.
        const int refused = read.size();
        *error = refused < ordered.size()
            ? QStringLiteral("the updater would refuse this manifest at %1: %2")
                  .arg(CatalogueNames::describe(ordered.at(refused)), complaint)
            : QStringLiteral("the updater would refuse this manifest: %1").arg(complaint);
        return false;
    }
    if (read.size() != ordered.size()) {
        *error = QStringLiteral("the manifest reads back with %1 components instead of %2")
                     .arg(read.size())
                     .arg(ordered.size());
        return false;
    }
    for (int i = 0; i < ordered.size(); ++i) {
        const Component& component = read.at(i);
        const CatalogueEntry& entry = ordered.at(i);
        if (component.type != entry.type || component.version != entry.version || component.url != entry.url
            || component.releaseDate != defaultReleaseDate || component.sha256 != entry.sha256
            || component.catalogueSize != entry.size) {
            *error = QStringLiteral("%1 reads back as %2 %3 %4")
                         .arg(CatalogueNames::describe(entry), componentTypeName(component.type),
                             component.version, component.url.toString());
            return false;
        }
    }

    KeyStatement statement;
    bool found = false;
    QString reason;
    if (!KeyStatement::readFromCatalogue(text, &statement, &found, &reason) || found != carriesStatement
        || (found && statement.document() != keyStatement.document())) {
        *error = QStringLiteral("the manifest's key statement does not read back%1")
                     .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
        return false;
    }

    const CatalogueHeader header = CatalogueHeader::read(text);
    if (header.published != publishedAt.toUTC() || header.expires != expiresAt.toUTC()) {
        *error = QStringLiteral("the manifest's Published and Expires times do not read back");
        return false;
    }
    return true;
}

bool CatalogueWriter::write(const QString& path, QString* error) const
{
    return write(path, {}, error);
}

bool CatalogueWriter::write(const QString& path, const QList<QByteArray>& secretKeys, QString* error) const
{
    if (components.all().isEmpty()) {
        *error = QStringLiteral("no components given");
        return false;
    }
    const QByteArray text = manifest();
    QByteArray signature;
    return readsBackAsWritten(text, error) && CatalogueSigner::sign(text, secretKeys, &signature, error)
        && CatalogueSigner::save(path, text, signature, error);
}

} // namespace PelkPlus
