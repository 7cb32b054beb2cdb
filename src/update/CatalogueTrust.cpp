#include "update/CatalogueTrust.h"

#include "update/CatalogueFreshness.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"

#include <QCryptographicHash>
#include <QDateTime>

namespace PelkPlus {

bool CatalogueTrust::reload(QString* problem)
{
    verified = false;
    problem->clear();
    trustedKeys = CatalogueSignature::trustedKeys(problem);
    return problem->isEmpty();
}

bool CatalogueTrust::verify(const QByteArray& manifest, const QByteArray& signature, QString* error)
{
    verified = CatalogueSignature::verify(manifest, signature, trustedKeys, error);
    return verified;
}

QString CatalogueTrust::freshnessRefusal(const QByteArray& manifest) const
{
    if (!verified)
        return QString();
    return CatalogueFreshness().refusal(CatalogueHeader::read(manifest),
        QCryptographicHash::hash(manifest, QCryptographicHash::Sha256), QDateTime::currentDateTimeUtc());
}

QString CatalogueTrust::digestRefusal(const ManifestData& data) const
{
    if (!verified)
        return QString();
    // The signature covers the manifest; only a digest and a size carry that over to the image sent.
    for (const ManifestProduct product : { ManifestProduct::Base, ManifestProduct::Plus }) {
        for (const Component& component : data.value(product)) {
            if (component.sha256.isEmpty())
                return QStringLiteral("The update catalogue lists %1 %2 without its SHA256 digest, "
                                      "so the file could not be checked; the catalogue is refused.")
                    .arg(componentTypeName(component.type), component.version);
            // Only a signed size bounds what the server may send before the digest can be checked.
            if (component.catalogueSize <= 0)
                return QStringLiteral("The update catalogue lists %1 %2 without its size, so the file could "
                                      "not be checked; the catalogue is refused.")
                    .arg(componentTypeName(component.type), component.version);
        }
    }
    return QString();
}

bool CatalogueTrust::recordAccepted(const QByteArray& manifest, QString* error) const
{
    return !verified
        || CatalogueFreshness().recordAccepted(CatalogueHeader::read(manifest).published,
            QCryptographicHash::hash(manifest, QCryptographicHash::Sha256), error);
}

} // namespace PelkPlus
