#include "CatalogueKeys.h"

#include "update/CatalogueSignature.h"
#include "update/UpdateManifestParser.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace PelkPlus {

bool CatalogueKeys::readSmallFile(const QString& path, qint64 maximum, QByteArray* contents, QString* error)
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

namespace {

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
    // Created with the owner's permissions alone from the start, never created and then narrowed:
    // in between, another account could open it and read the key as it is written.
    const int descriptor
        = ::open(QFile::encodeName(secretPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const int openError = errno;
    QFile secret(secretPath);
    if (descriptor < 0 || !secret.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        const QString reason
            = descriptor < 0 ? QString::fromLocal8Bit(std::strerror(openError)) : secret.errorString();
        if (descriptor >= 0)
            ::close(descriptor);
        *error = QStringLiteral("cannot create %1 (an existing key is never replaced): %2")
                     .arg(secretPath, reason);
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

bool CatalogueKeys::verifyManifest(
    const QByteArray& manifest, const QString& signaturePath, const QByteArray& publicKey, QString* error)
{
    QByteArray signature;
    if (!readSmallFile(signaturePath, CatalogueSignature::maximumFileSize, &signature, error))
        return false;
    QString reason;
    if (!CatalogueSignature::verify(manifest, signature, { publicKey }, &reason)) {
        *error = QStringLiteral("%1: %2").arg(signaturePath, reason);
        return false;
    }
    return true;
}

} // namespace PelkPlus
