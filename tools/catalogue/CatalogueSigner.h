#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace PelkPlus {

// The signature beside a manifest: made with each of the publisher's secret keys and proved
// before anything is written, then written so that no reader ever finds a manifest beside a
// signature that is not its own.
class CatalogueSigner
{
public:
    // Signs the manifest's bytes with every key and checks each signature with its key's public
    // half; false when one does not verify. Without keys the signature is empty.
    static bool sign(const QByteArray& manifest, const QList<QByteArray>& secretKeys, QByteArray* signature,
        QString* error);

    // Writes the manifest to path and the signature to path + ".sig"; without a signature, an old
    // one is removed. Both are written aside in full first (whatever fails then leaves the old
    // pair), then the manifest takes the old one's place and its signature right after it.
    static bool save(
        const QString& path, const QByteArray& manifest, const QByteArray& signature, QString* error);
};

} // namespace PelkPlus
