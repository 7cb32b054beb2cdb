#pragma once

#include <QByteArray>
#include <QString>

namespace PelkPlus {

// The publisher's signing keys as files, and the signature written beside a manifest. A secret key
// file holds the base64 text of the 64-byte Ed25519 secret key and may be read by its owner alone;
// the public key file beside it (".pub") holds the base64 text of the 32-byte public key, the text
// the updater's settings list under "update/trusted-keys".
class CatalogueKeys
{
public:
    // Writes a new key pair: the secret key to secretPath (created with mode 0600, so that no
    // other account can open it even while it is being written; an existing file is never
    // replaced) and the public key to secretPath + ".pub".
    static bool generate(const QString& secretPath, QByteArray* publicKey, QString* error);

    // Refuses a secret key file that others may read, or that holds no secret key.
    static bool readSecretKey(const QString& path, QByteArray* key, QString* error);
    static bool readPublicKey(const QString& path, QByteArray* key, QString* error);
    // A file of at most maximum bytes.
    static bool readSmallFile(const QString& path, qint64 maximum, QByteArray* contents, QString* error);

    // Checks the signature file at signaturePath against these manifest bytes and one public key.
    static bool verifyManifest(const QByteArray& manifest, const QString& signaturePath,
        const QByteArray& publicKey, QString* error);
};

} // namespace PelkPlus
