#include "update/CatalogueTrust.h"

#include "update/CatalogueFreshness.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"

#include <QDateTime>

namespace PelkPlus {

bool CatalogueTrust::reload(QString* problem)
{
    verified = false;
    verifiedBy.clear();
    problem->clear();
    trustedKeys = CatalogueSignature::trustedKeys(problem);
    return problem->isEmpty();
}

bool CatalogueTrust::verify(const QByteArray& manifest, const QByteArray& signature, QString* error)
{
    verified = CatalogueSignature::verify(manifest, signature, trustedKeys, error, &verifiedBy);
    return verified;
}

QString CatalogueTrust::freshnessRefusal(const QByteArray& manifest) const
{
    if (!verified)
        return QString();
    return CatalogueFreshness().refusal(
        CatalogueHeader::read(manifest), verifiedBy, QDateTime::currentDateTimeUtc());
}

QString CatalogueTrust::digestRefusal(const ManifestData& data) const
{
    if (!verified)
        return QString();
    // The signature covers the manifest; only a digest carries that over to the image sent.
    for (const ManifestProduct product : { ManifestProduct::Base, ManifestProduct::Plus }) {
        for (const Component& component : data.value(product)) {
            if (component.sha256.isEmpty())
                return QStringLiteral("The update catalogue lists %1 %2 without its SHA256 digest, "
                                      "so the file could not be checked; the catalogue is refused.")
                    .arg(componentTypeName(component.type), component.version);
        }
    }
    return QString();
}

bool CatalogueTrust::recordAccepted(const QByteArray& manifest, QString* error) const
{
    return !verified
        || CatalogueFreshness().recordAccepted(verifiedBy, CatalogueHeader::read(manifest).published, error);
}

} // namespace PelkPlus
