#include "update/CatalogueTrust.h"

#include "update/CatalogueFreshness.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/KeyRotation.h"
#include "update/KeyStatement.h"

#include "app/ConfigurationManager.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QStringList>

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

namespace {

QStringList keyTexts(const QList<QByteArray>& keys)
{
    QStringList texts;
    for (const QByteArray& key : keys)
        texts.append(QString::fromLatin1(CatalogueSignature::encodeKey(key)));
    return texts;
}

} // namespace

QString CatalogueTrust::applyKeyStatement(const QByteArray& manifest)
{
    if (trustedKeys.isEmpty())
        return QString();
    KeyStatement statement;
    bool found = false;
    QString error;
    if (!KeyStatement::readFromCatalogue(manifest, &statement, &found, &error))
        return QStringLiteral("The update catalogue carries a key statement that cannot be read (%1); the "
                              "catalogue is refused.")
            .arg(error);
    if (!found)
        return QString();

    KeyRotation::Keys now;
    now.trusted = trustedKeys;
    QString problem;
    now.listed = CatalogueSignature::listedTrustedKeys(&problem);
    if (problem.isEmpty())
        now.revoked = CatalogueSignature::revokedKeys(&problem);
    if (!problem.isEmpty())
        return problem;
    CatalogueFreshness freshness;
    KeyRotation::LastApplied last;
    freshness.appliedStatement(&last.issued, &last.digest);

    const KeyRotation rotation = KeyRotation::evaluate(statement, now, last, QDateTime::currentDateTimeUtc());
    if (rotation.verdict == KeyRotation::AlreadyApplied) {
        qDebug().noquote() << "UpdateManager: The key statement issued on"
                           << CatalogueHeader::timeText(statement.issued) << "was applied before.";
        return QString();
    }
    if (rotation.verdict == KeyRotation::Refuse)
        return rotation.refusal;

    ConfigurationManager* configuration = ConfigurationManager::instance();
    if (!configuration
        || !configuration->setCatalogueKeys(
            keyTexts(rotation.after.listed), keyTexts(rotation.after.revoked), &error))
        return QStringLiteral("The update catalogue carries a key statement that cannot be stored (%1); the "
                              "catalogue is refused and the keys trusted are left as they were.")
            .arg(configuration ? error : QStringLiteral("no settings are open"));
    // The keys are changed whatever happens to the record: a statement carried again is then only
    // applied again, which changes nothing.
    if (!freshness.recordStatement(statement.issued, statement.digest(), &error))
        qCritical().noquote() << "UpdateManager: The key statement applied cannot be remembered:" << error;
    qDebug().noquote() << QStringLiteral(
        "UpdateManager: Key statement issued on %1 applied: trusted %2; revoked "
        "%3; signed by %4.")
                              .arg(CatalogueHeader::timeText(statement.issued),
                                  KeyRotation::keyIds(statement.trusted),
                                  KeyRotation::keyIds(statement.revoked),
                                  KeyRotation::keyIds(rotation.signers));
    trustedKeys = rotation.after.trusted;
    return QString();
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
