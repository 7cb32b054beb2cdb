#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace PelkPlus {

// The detached Ed25519 signatures of an update manifest, served beside it at the manifest's URL
// followed by ".sig". Each signature covers the manifest's exact bytes. Its file is text: a first
// line, then one pair of lines per signing key:
//
//     pelk-catalogue-signature ed25519
//     key-id <16 hexadecimal digits: the first 8 bytes of the public key's SHA-256>
//     signature <the 64-byte signature in base64>
//     key-id ...
//     signature ...
//
// A file of one pair is the form written before keys could be rotated, and reads the same. While a
// key is replaced, the publisher signs with the old and the new one, so that updaters trusting
// either accept the catalogue.
//
// Keys are written as the base64 text of their bytes (32 for a public key, 64 for a secret one).
class CatalogueSignature
{
public:
    static constexpr int publicKeySize = 32;
    static constexpr int secretKeySize = 64;
    static constexpr int signatureSize = 64;
    // One signature takes under 130 bytes; anything much larger is not a signature file.
    static constexpr qint64 maximumFileSize = 4096;
    // More signatures than a rotation ever needs are refused before any is checked.
    static constexpr int maximumSignatures = 16;

    struct Signature
    {
        // As written: 16 lower-case hexadecimal digits.
        QByteArray keyId;
        QByteArray signature;
    };

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

    // The signature file for a manifest, one signature per secret key, in the order given; empty
    // when a key is not a secret key.
    static QByteArray sign(const QByteArray& manifest, const QByteArray& secretKey);
    static QByteArray sign(const QByteArray& manifest, const QList<QByteArray>& secretKeys);

    // The signatures of a signature file; false when it is not one.
    static bool parse(const QByteArray& signatureFile, QList<Signature>* signatures);

    // True when signatureFile holds a signature of manifest by at least one of the trusted keys;
    // verifiedBy then lists every trusted key whose signature matches. Otherwise error says why, in
    // words for the log.
    static bool verify(const QByteArray& manifest, const QByteArray& signatureFile,
        const QList<QByteArray>& trustedKeys, QString* error, QList<QByteArray>* verifiedBy = nullptr);
    // The same for signatures already read, over any signed text; subject names what was signed in
    // error ("the catalogue", "the key statement").
    static bool verify(const QByteArray& message, const QList<Signature>& signatures,
        const QList<QByteArray>& trustedKeys, const QString& subject, QString* error,
        QList<QByteArray>* verifiedBy = nullptr);

    // The public keys the updater trusts: the one built in (if any) and those listed under
    // "update/trusted-keys" in the settings, separated by commas or blanks, less those listed under
    // "update/revoked-keys". Keys fail closed: when an entry of either setting, or the built-in
    // key, is not a key, or when every trusted key is revoked, error says so and names the setting,
    // and no catalogue may be accepted until it is mended.
    static QList<QByteArray> trustedKeys(QString* error = nullptr);
    // The keys listed under "update/revoked-keys"; error as above.
    static QList<QByteArray> revokedKeys(QString* error = nullptr);
    // The keys listed under "update/trusted-keys" alone, revoked ones included; error as above.
    static QList<QByteArray> listedTrustedKeys(QString* error = nullptr);

    static const char trustedKeysSetting[];
    static const char revokedKeysSetting[];
};

} // namespace PelkPlus
