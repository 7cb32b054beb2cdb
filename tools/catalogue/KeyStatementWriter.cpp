#include "KeyStatementWriter.h"

#include "CatalogueKeys.h"

#include "update/CatalogueSignature.h"
#include "update/KeyRotation.h"
#include "update/KeyStatement.h"

#include <QSaveFile>

namespace PelkPlus {

namespace {

// A statement is a few hundred bytes.
constexpr qint64 maximumStatementSize = 16 * 1024;

} // namespace

bool KeyStatementWriter::make(const QList<QByteArray>& secretKeys, const QList<QByteArray>& trusted,
    const QList<QByteArray>& revoked, const QDateTime& issued, KeyStatement* statement, QString* error)
{
    if (secretKeys.isEmpty()) {
        *error = QStringLiteral("no key to sign the statement with (--old-key)");
        return false;
    }
    if (trusted.isEmpty() && revoked.isEmpty()) {
        *error = QStringLiteral("the statement names no key to trust (--new-key) or revoke (--revoke)");
        return false;
    }
    if (trusted.size() > KeyStatement::maximumKeys || revoked.size() > KeyStatement::maximumKeys) {
        *error = QStringLiteral("a statement names at most %1 keys to trust and %1 to revoke")
                     .arg(KeyStatement::maximumKeys);
        return false;
    }
    QList<QByteArray> signers;
    for (const QByteArray& secretKey : secretKeys)
        signers.append(secretKey.mid(32));
    KeyStatement made;
    // To the second, as written.
    made.issued = QDateTime::fromSecsSinceEpoch(issued.toSecsSinceEpoch(), Qt::UTC);
    for (const QByteArray& key : trusted) {
        if (revoked.contains(key)) {
            *error = QStringLiteral("key %1 is both trusted and revoked").arg(KeyRotation::keyIds({ key }));
            return false;
        }
        if (!made.trusted.contains(key))
            made.trusted.append(key);
    }
    for (const QByteArray& key : revoked) {
        if (!made.revoked.contains(key))
            made.revoked.append(key);
    }
    QList<QByteArray> standing = signers;
    for (const QByteArray& key : made.revoked)
        standing.removeAll(key);
    if (standing.isEmpty()) {
        *error = QStringLiteral(
            "the statement would revoke key %1, its only signer; updaters refuse it. Sign it "
            "with another key they trust, or trust the new key first and revoke the "
            "old one in a later statement signed with the new key")
                     .arg(KeyRotation::keyIds(signers));
        return false;
    }
    if (!made.sign(secretKeys)) {
        *error = QStringLiteral("the statement cannot be signed");
        return false;
    }
    // Each key must verify its own signature: a signing gone wrong is found here, not by updaters.
    for (const QByteArray& key : signers) {
        QString reason;
        if (!CatalogueSignature::verify(
                made.signedText(), made.signatures, { key }, QStringLiteral("the key statement"), &reason)) {
            *error = QStringLiteral("the statement's signature does not verify: %1").arg(reason);
            return false;
        }
    }
    *statement = made;
    return true;
}

bool KeyStatementWriter::save(const QString& path, const KeyStatement& statement, QString* error)
{
    const QByteArray text = statement.document();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool KeyStatementWriter::load(const QString& path, KeyStatement* statement, QString* error)
{
    QByteArray text;
    if (!CatalogueKeys::readSmallFile(path, maximumStatementSize, &text, error))
        return false;
    QString reason;
    if (!KeyStatement::readDocument(text, statement, &reason)) {
        *error = QStringLiteral("%1 is not a key statement: %2").arg(path, reason);
        return false;
    }
    return true;
}

} // namespace PelkPlus
