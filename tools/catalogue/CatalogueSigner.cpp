#include "CatalogueSigner.h"

#include "update/CatalogueSignature.h"

#include <QFile>
#include <QSaveFile>

namespace PelkPlus {

bool CatalogueSigner::sign(
    const QByteArray& manifest, const QList<QByteArray>& secretKeys, QByteArray* signature, QString* error)
{
    signature->clear();
    if (secretKeys.isEmpty())
        return true;
    *signature = CatalogueSignature::sign(manifest, secretKeys);
    // Each key must verify its own signature in the very file written: a signing that went wrong
    // is found here, not by every updater.
    for (const QByteArray& secretKey : secretKeys) {
        QString reason;
        if (signature->isEmpty()
            || !CatalogueSignature::verify(manifest, *signature, { secretKey.mid(32) }, &reason)) {
            *error = QStringLiteral("the manifest's signature does not verify%1")
                         .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
            return false;
        }
    }
    return true;
}

bool CatalogueSigner::save(
    const QString& path, const QByteArray& manifest, const QByteArray& signature, QString* error)
{
    // The new manifest is written aside first and takes the old one's place last, after its
    // signature: a reader never sees the new manifest beside the old signature.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(manifest) != manifest.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QString signaturePath = path + QStringLiteral(".sig");
    if (!signature.isEmpty()) {
        QSaveFile signatureFile(signaturePath);
        if (!signatureFile.open(QIODevice::WriteOnly) || signatureFile.write(signature) != signature.size()
            || !signatureFile.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(signaturePath, signatureFile.errorString());
            return false;
        }
    } else if (QFile::exists(signaturePath) && !QFile::remove(signaturePath)) {
        // An old signature never stands beside a manifest it does not sign.
        *error = QStringLiteral("cannot remove the old signature %1").arg(signaturePath);
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace PelkPlus
