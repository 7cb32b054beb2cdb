#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace PelkPlus {

// The detached Ed25519 signature of an update manifest, served beside it at the manifest's URL
// followed by ".sig". The signature covers the manifest's exact bytes. Its file is three lines of
// text:
//
//     pelk-catalogue-signature ed25519
//     key-id <16 hexadecimal digits: the first 8 bytes of the public key's SHA-256>
//     signature <the 64-byte signature in base64>
//
// Keys are written as the base64 text of their bytes (32 for a public key, 64 for a secret one).
class CatalogueSignature
{
public:
    static constexpr int publicKeySize = 32;
    static constexpr int secretKeySize = 64;
    static constexpr int signatureSize = 64;
    // A signature file is under 200 bytes; anything much larger is not one.
    static constexpr qint64 maximumFileSize = 4096;

    struct KeyPair
    {
        QByteArray publicKey;
        QByteArray secretKey;
    };

    // False when the cryptography library cannot be used; nothing can be signed or verified then.
    static bool initialise();

    static KeyPair generateKeyPair();
    static QByteArray keyId(const QByteArray& publicKey);

    // The text form of a key, and its bytes back from text; decoding fails on a wrong size.
    static QByteArray encodeKey(const QByteArray& key);
    static bool decodeKey(const QByteArray& text, int size, QByteArray* key);

    // The signature file for a manifest.
    static QByteArray sign(const QByteArray& manifest, const QByteArray& secretKey);

    // True when signatureFile is a signature of manifest by one of the trusted keys; otherwise
    // error says why, in words for the log.
    static bool verify(const QByteArray& manifest, const QByteArray& signatureFile,
        const QList<QByteArray>& trustedKeys, QString* error);

    // The public keys the updater trusts: the one built in (if any) and those listed under
    // "update/trusted-keys" in the settings, separated by commas or blanks. Entries that are not
    // keys are logged and left out.
    static QList<QByteArray> trustedKeys();
};

} // namespace PelkPlus
