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
    // Both files are written aside in full first, so that whatever cannot be written leaves the old
    // pair as it was. Then the manifest takes the old one's place, and its signature right after
    // it, each by one rename: a reader may find the new manifest beside the old signature for that
    // moment (the updater then fetches both once more), but never a new signature beside a
    // manifest it does not sign for longer than that.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(manifest) != manifest.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QString signaturePath = path + QStringLiteral(".sig");
    QSaveFile signatureFile(signaturePath);
    if (!signature.isEmpty()
        && (!signatureFile.open(QIODevice::WriteOnly)
            || signatureFile.write(signature) != signature.size())) {
        *error = QStringLiteral("cannot write %1: %2").arg(signaturePath, signatureFile.errorString());
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (signature.isEmpty()) {
        // An old signature never stays beside a manifest it does not sign.
        if (QFile::exists(signaturePath) && !QFile::remove(signaturePath)) {
            *error = QStringLiteral("%1 is written, but the old signature %2 cannot be removed; remove it")
                         .arg(path, signaturePath);
            return false;
        }
        return true;
    }
    if (!signatureFile.commit()) {
        *error = QStringLiteral("%1 is written, but its signature %2 is not: %3; publish again")
                     .arg(path, signaturePath, signatureFile.errorString());
        return false;
    }
    return true;
}

} // namespace PelkPlus
