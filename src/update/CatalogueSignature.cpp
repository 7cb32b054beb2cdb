#include "update/CatalogueSignature.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include <sodium.h>

#ifndef PELK_TRUSTED_KEY
#define PELK_TRUSTED_KEY ""
#endif

namespace PelkPlus {

namespace {

const char firstLine[] = "pelk-catalogue-signature ed25519";
const char keyIdWord[] = "key-id ";
const char signatureWord[] = "signature ";

} // namespace

bool CatalogueSignature::initialise()
{
    // Safe to call again and from any thread; negative only when the library cannot run at all.
    return sodium_init() >= 0;
}

CatalogueSignature::KeyPair CatalogueSignature::generateKeyPair()
{
    KeyPair pair;
    if (!initialise())
        return pair;
    pair.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    pair.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(pair.publicKey.data()),
        reinterpret_cast<unsigned char*>(pair.secretKey.data()));
    return pair;
}

QByteArray CatalogueSignature::keyId(const QByteArray& publicKey)
{
    return QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).left(8).toHex();
}

QByteArray CatalogueSignature::encodeKey(const QByteArray& key)
{
    return key.toBase64();
}

bool CatalogueSignature::decodeKey(const QByteArray& text, int size, QByteArray* key)
{
    const QByteArray trimmed = text.trimmed();
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]+={0,2}$"));
    if (!base64.match(QString::fromLatin1(trimmed)).hasMatch())
        return false;
    const QByteArray decoded = QByteArray::fromBase64(trimmed);
    if (decoded.size() != size || decoded.toBase64() != trimmed)
        return false;
    *key = decoded;
    return true;
}

QByteArray CatalogueSignature::sign(const QByteArray& manifest, const QByteArray& secretKey)
{
    if (!initialise() || secretKey.size() != secretKeySize)
        return QByteArray();
    QByteArray signature(signatureSize, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
        reinterpret_cast<const unsigned char*>(manifest.constData()),
        static_cast<unsigned long long>(manifest.size()),
        reinterpret_cast<const unsigned char*>(secretKey.constData()));
    // The public key is the second half of libsodium's secret key.
    return QByteArray(firstLine) + '\n' + keyIdWord + keyId(secretKey.mid(32)) + '\n' + signatureWord
        + signature.toBase64() + '\n';
}

bool CatalogueSignature::verify(const QByteArray& manifest, const QByteArray& signatureFile,
    const QList<QByteArray>& trustedKeys, QString* error)
{
    if (!initialise()) {
        *error = QStringLiteral("the signature library cannot be initialised");
        return false;
    }
    QList<QByteArray> lines = signatureFile.trimmed().split('\n');
    for (QByteArray& line : lines)
        line = line.trimmed();
    QByteArray signature;
    if (signatureFile.size() > maximumFileSize || lines.size() != 3 || lines.at(0) != firstLine
        || !lines.at(1).startsWith(keyIdWord) || !lines.at(2).startsWith(signatureWord)
        || !decodeKey(lines.at(2).mid(int(sizeof(signatureWord)) - 1), signatureSize, &signature)) {
        *error = QStringLiteral("the signature file is not a catalogue signature");
        return false;
    }

    const QByteArray id = lines.at(1).mid(int(sizeof(keyIdWord)) - 1).trimmed().toLower();
    for (const QByteArray& key : trustedKeys) {
        if (key.size() != publicKeySize || keyId(key) != id)
            continue;
        if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                reinterpret_cast<const unsigned char*>(manifest.constData()),
                static_cast<unsigned long long>(manifest.size()),
                reinterpret_cast<const unsigned char*>(key.constData()))
            == 0) {
            return true;
        }
        *error = QStringLiteral("the signature by key %1 does not match the catalogue")
                     .arg(QString::fromLatin1(id));
        return false;
    }
    *error = QStringLiteral("the catalogue is signed by key %1, which is not trusted")
                 .arg(QString::fromLatin1(id.left(16)));
    return false;
}

QList<QByteArray> CatalogueSignature::trustedKeys()
{
    QStringList texts;
    const QString builtIn = QStringLiteral(PELK_TRUSTED_KEY);
    if (!builtIn.isEmpty())
        texts.append(builtIn);
    const QVariant stored = QSettings().value(QStringLiteral("update/trusted-keys"));
    // A list written by hand in the settings file reads as one text or as a list of them.
    const QStringList values
        = stored.type() == QVariant::StringList ? stored.toStringList() : QStringList { stored.toString() };
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    for (const QString& value : values)
        texts += value.split(separators, Qt::SkipEmptyParts);

    QList<QByteArray> keys;
    for (const QString& text : qAsConst(texts)) {
        QByteArray key;
        if (decodeKey(text.toLatin1(), publicKeySize, &key)) {
            if (!keys.contains(key))
                keys.append(key);
        } else {
            qCritical() << "UpdateManager: Not a public key, ignored:" << text;
        }
    }
    return keys;
}

} // namespace PelkPlus
