#include "CatalogueKeys.h"

#include "update/CatalogueSignature.h"
#include "update/UpdateManifestParser.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace PelkPlus {

namespace {

const char signatureSuffix[] = ".sig";

bool readSmallFile(const QString& path, qint64 maximum, QByteArray* contents, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > maximum) {
        *error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maximum);
        return false;
    }
    *contents = file.readAll();
    return true;
}

bool writeFile(const QString& path, const QByteArray& contents, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

bool CatalogueKeys::generate(const QString& secretPath, QByteArray* publicKey, QString* error)
{
    const CatalogueSignature::KeyPair pair = CatalogueSignature::generateKeyPair();
    if (pair.secretKey.isEmpty()) {
        *error = QStringLiteral("the signature library cannot be initialised");
        return false;
    }
    QFile secret(secretPath);
    // Created empty and closed to others before the key is written into it.
    if (!secret.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || !secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = QStringLiteral("cannot create %1 (an existing key is never replaced): %2")
                     .arg(secretPath, secret.errorString());
        return false;
    }
    const QByteArray text = CatalogueSignature::encodeKey(pair.secretKey) + '\n';
    if (secret.write(text) != text.size() || !secret.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(secretPath, secret.errorString());
        secret.remove();
        return false;
    }
    secret.close();
    *publicKey = pair.publicKey;
    return writeFile(
        secretPath + QStringLiteral(".pub"), CatalogueSignature::encodeKey(pair.publicKey) + '\n', error);
}

bool CatalogueKeys::readSecretKey(const QString& path, QByteArray* key, QString* error)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFileInfo::exists(path) && (QFile::permissions(path) & others)) {
        *error
            = QStringLiteral("%1 may be read by others; a secret key must not be (chmod 600 %1)").arg(path);
        return false;
    }
    QByteArray text;
    if (!readSmallFile(path, 1024, &text, error))
        return false;
    if (!CatalogueSignature::decodeKey(text, CatalogueSignature::secretKeySize, key)) {
        *error = QStringLiteral("%1 holds no secret key (base64 of %2 bytes)")
                     .arg(path)
                     .arg(CatalogueSignature::secretKeySize);
        return false;
    }
    return true;
}

bool CatalogueKeys::readPublicKey(const QString& path, QByteArray* key, QString* error)
{
    QByteArray text;
    if (!readSmallFile(path, 1024, &text, error))
        return false;
    if (!CatalogueSignature::decodeKey(text, CatalogueSignature::publicKeySize, key)) {
        *error = QStringLiteral("%1 holds no public key (base64 of %2 bytes)")
                     .arg(path)
                     .arg(CatalogueSignature::publicKeySize);
        return false;
    }
    return true;
}

bool CatalogueKeys::signManifest(const QString& manifestPath, const QByteArray& secretKey, QString* error)
{
    QByteArray manifest;
    if (!readSmallFile(manifestPath, UpdateManifestParser::maximumManifestSize, &manifest, error))
        return false;
    const QByteArray signature = CatalogueSignature::sign(manifest, secretKey);
    if (signature.isEmpty()) {
        *error = QStringLiteral("the manifest cannot be signed");
        return false;
    }
    return writeFile(manifestPath + QLatin1String(signatureSuffix), signature, error);
}

bool CatalogueKeys::verifyManifest(const QString& manifestPath, const QByteArray& publicKey, QString* error)
{
    QByteArray manifest;
    QByteArray signature;
    if (!readSmallFile(manifestPath, UpdateManifestParser::maximumManifestSize, &manifest, error)
        || !readSmallFile(manifestPath + QLatin1String(signatureSuffix), CatalogueSignature::maximumFileSize,
            &signature, error))
        return false;
    QString reason;
    if (!CatalogueSignature::verify(manifest, signature, { publicKey }, &reason)) {
        *error = QStringLiteral("%1: %2").arg(manifestPath + QLatin1String(signatureSuffix), reason);
        return false;
    }
    return true;
}

} // namespace PelkPlus
