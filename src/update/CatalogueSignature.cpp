#include "update/CatalogueSignature.h"

#include "app/ConfigurationManager.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include <sodium.h>

#include <algorithm>

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
    return sign(manifest, QList<QByteArray> { secretKey });
}

QByteArray CatalogueSignature::sign(const QByteArray& manifest, const QList<QByteArray>& secretKeys)
{
    if (!initialise() || secretKeys.isEmpty())
        return QByteArray();
    QByteArray file = QByteArray(firstLine) + '\n';
    for (const QByteArray& secretKey : secretKeys) {
        if (secretKey.size() != secretKeySize)
            return QByteArray();
        QByteArray signature(signatureSize, Qt::Uninitialized);
        crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
            reinterpret_cast<const unsigned char*>(manifest.constData()),
            static_cast<unsigned long long>(manifest.size()),
            reinterpret_cast<const unsigned char*>(secretKey.constData()));
        // The public key is the second half of libsodium's secret key.
        file += keyIdWord + keyId(secretKey.mid(32)) + '\n' + signatureWord + signature.toBase64() + '\n';
    }
    return file;
}

bool CatalogueSignature::parse(const QByteArray& signatureFile, QList<Signature>* signatures)
{
    signatures->clear();
    if (signatureFile.size() > maximumFileSize)
        return false;
    QList<QByteArray> lines = signatureFile.trimmed().split('\n');
    for (QByteArray& line : lines)
        line = line.trimmed();
    const int pairs = (lines.size() - 1) / 2;
    if (lines.size() < 3 || lines.size() % 2 != 1 || pairs > maximumSignatures || lines.at(0) != firstLine)
        return false;
    // Checked byte by byte: a text conversion would end at a NUL the file may hold.
    auto isKeyId = [](const QByteArray& id) {
        return id.size() == 16 && std::all_of(id.cbegin(), id.cend(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        });
    };
    QList<Signature> read;
    for (int i = 1; i + 1 < lines.size(); i += 2) {
        Signature entry;
        const QByteArray& idLine = lines.at(i);
        const QByteArray& signatureLine = lines.at(i + 1);
        if (!idLine.startsWith(keyIdWord) || !signatureLine.startsWith(signatureWord))
            return false;
        entry.keyId = idLine.mid(int(sizeof(keyIdWord)) - 1).trimmed().toLower();
        if (!isKeyId(entry.keyId)
            || !decodeKey(signatureLine.mid(int(sizeof(signatureWord)) - 1), signatureSize, &entry.signature))
            return false;
        read.append(entry);
    }
    *signatures = read;
    return true;
}

bool CatalogueSignature::verify(const QByteArray& manifest, const QByteArray& signatureFile,
    const QList<QByteArray>& trustedKeys, QString* error, QList<QByteArray>* verifiedBy)
{
    if (!initialise()) {
        *error = QStringLiteral("the signature library cannot be initialised");
        return false;
    }
    QList<Signature> signatures;
    if (!parse(signatureFile, &signatures)) {
        *error = QStringLiteral("the signature file is not a catalogue signature");
        return false;
    }
    return verify(manifest, signatures, trustedKeys, QStringLiteral("the catalogue"), error, verifiedBy);
}

bool CatalogueSignature::verify(const QByteArray& message, const QList<Signature>& signatures,
    const QList<QByteArray>& trustedKeys, const QString& subject, QString* error,
    QList<QByteArray>* verifiedBy)
{
    if (!initialise()) {
        *error = QStringLiteral("the signature library cannot be initialised");
        return false;
    }
    QList<QByteArray> matching;
    QStringList mismatched;
    QStringList untrusted;
    for (const Signature& entry : signatures) {
        bool known = false;
        for (const QByteArray& key : trustedKeys) {
            if (key.size() != publicKeySize || keyId(key) != entry.keyId)
                continue;
            known = true;
            if (entry.signature.size() == signatureSize
                && crypto_sign_verify_detached(
                       reinterpret_cast<const unsigned char*>(entry.signature.constData()),
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       static_cast<unsigned long long>(message.size()),
                       reinterpret_cast<const unsigned char*>(key.constData()))
                    == 0) {
                if (!matching.contains(key))
                    matching.append(key);
            } else {
                mismatched.append(QString::fromLatin1(entry.keyId));
            }
        }
        if (!known)
            untrusted.append(QString::fromLatin1(entry.keyId));
    }
    if (!matching.isEmpty()) {
        if (verifiedBy)
            *verifiedBy = matching;
        return true;
    }
    if (!mismatched.isEmpty()) {
        *error = QStringLiteral("the signature by key %1 does not match %2")
                     .arg(mismatched.join(QStringLiteral(", ")), subject);
    } else {
        *error = QStringLiteral("%1 is signed by key %2, which is not trusted")
                     .arg(subject, untrusted.join(QStringLiteral(", ")));
    }
    return false;
}

namespace {

// The key texts of one setting: a list written by hand in the settings file reads as one text or
// as a list of them, separated by commas or blanks.
QStringList settingTexts(const char* name)
{
    const QVariant stored = QSettings().value(QLatin1String(name));
    const QStringList values
        = stored.type() == QVariant::StringList ? stored.toStringList() : QStringList { stored.toString() };
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    QStringList texts;
    for (const QString& value : values)
        texts += value.split(separators, Qt::SkipEmptyParts);
    return texts;
}

// Appends the keys of texts to keys; false, with error naming where they came from, at the first
// text that is not a public key.
bool appendKeys(const QStringList& texts, const QString& origin, QList<QByteArray>* keys, QString* error)
{
    for (const QString& text : texts) {
        QByteArray key;
        if (!CatalogueSignature::decodeKey(text.toLatin1(), CatalogueSignature::publicKeySize, &key)) {
            *error = QStringLiteral("%1 holds \"%2\", which is not a public key (base64 of 32 bytes); no "
                                    "update catalogue is accepted until it is mended")
                         .arg(origin, text.left(60));
            return false;
        }
        if (!keys->contains(key))
            keys->append(key);
    }
    return true;
}

} // namespace

const char CatalogueSignature::trustedKeysSetting[] = "update/trusted-keys";
const char CatalogueSignature::revokedKeysSetting[] = "update/revoked-keys";

QList<QByteArray> CatalogueSignature::revokedKeys(QString* error)
{
    QList<QByteArray> keys;
    QString problem = ConfigurationManager::settingsProblem();
    if (!problem.isEmpty()
        || !appendKeys(settingTexts(revokedKeysSetting),
            QStringLiteral("The setting %1").arg(QLatin1String(revokedKeysSetting)), &keys, &problem)) {
        qCritical().noquote() << "UpdateManager:" << problem;
        if (error)
            *error = problem;
        return {};
    }
    return keys;
}

QList<QByteArray> CatalogueSignature::listedTrustedKeys(QString* error)
{
    QList<QByteArray> keys;
    QString problem = ConfigurationManager::settingsProblem();
    if (!problem.isEmpty()
        || !appendKeys(settingTexts(trustedKeysSetting),
            QStringLiteral("The setting %1").arg(QLatin1String(trustedKeysSetting)), &keys, &problem)) {
        qCritical().noquote() << "UpdateManager:" << problem;
        if (error)
            *error = problem;
        return {};
    }
    return keys;
}

QList<QByteArray> CatalogueSignature::trustedKeys(QString* error)
{
    QList<QByteArray> keys;
    // A file that cannot be read says nothing of the keys: it must not read as trusting none.
    QString problem = ConfigurationManager::settingsProblem();
    const QString builtIn = QStringLiteral(PELK_TRUSTED_KEY).trimmed();
    const bool listed = problem.isEmpty()
        && (builtIn.isEmpty()
            || appendKeys(
                { builtIn }, QStringLiteral("The built-in key (PELK_TRUSTED_KEY)"), &keys, &problem))
        && appendKeys(settingTexts(trustedKeysSetting),
            QStringLiteral("The setting %1").arg(QLatin1String(trustedKeysSetting)), &keys, &problem);
    QList<QByteArray> revoked;
    if (listed)
        appendKeys(settingTexts(revokedKeysSetting),
            QStringLiteral("The setting %1").arg(QLatin1String(revokedKeysSetting)), &revoked, &problem);
    if (problem.isEmpty()) {
        const bool anyListed = !keys.isEmpty();
        for (const QByteArray& key : revoked)
            keys.removeAll(key);
        // Revoking the last key must not turn verification off.
        if (anyListed && keys.isEmpty())
            problem = QStringLiteral("Every trusted key is listed in the setting %1; no update catalogue is "
                                     "accepted until a current key is added to %2")
                          .arg(QLatin1String(revokedKeysSetting), QLatin1String(trustedKeysSetting));
    }
    if (!problem.isEmpty()) {
        qCritical().noquote() << "UpdateManager:" << problem;
        if (error)
            *error = problem;
        return {};
    }
    if (error)
        error->clear();
    return keys;
}

} // namespace PelkPlus
