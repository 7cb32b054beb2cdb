#include "update/KeyRotation.h"

#include "update/CatalogueFreshness.h"
#include "update/CatalogueSignature.h"
#include "update/KeyStatement.h"

#include <QStringList>

namespace PelkPlus {

namespace {

KeyRotation refused(const QString& why)
{
    KeyRotation rotation;
    rotation.verdict = KeyRotation::Refuse;
    rotation.refusal
        = QStringLiteral("The update catalogue carries a key statement that is refused: %1. The catalogue is "
                         "refused and the keys trusted are left as they were.")
              .arg(why);
    return rotation;
}

} // namespace

QString KeyRotation::keyIds(const QList<QByteArray>& keys)
{
    QStringList ids;
    for (const QByteArray& key : keys)
        ids.append(QString::fromLatin1(CatalogueSignature::keyId(key)));
    return ids.isEmpty() ? QStringLiteral("none") : ids.join(QStringLiteral(", "));
}

KeyRotation KeyRotation::evaluate(
    const KeyStatement& statement, const Keys& now, const LastApplied& last, const QDateTime& clock)
{
    // Dated ahead of the clock, it would refuse every genuine statement issued before that date.
    if (statement.issued > clock.addSecs(CatalogueFreshness::clockToleranceSecs))
        return refused(QStringLiteral("it was issued on %1, later than this computer's clock (%2) allows")
                           .arg(CatalogueFreshness::displayTime(statement.issued),
                               CatalogueFreshness::displayTime(clock)));
    if (last.issued.isValid()) {
        if (statement.issued == last.issued && statement.digest() == last.digest) {
            KeyRotation rotation;
            rotation.verdict = AlreadyApplied;
            return rotation;
        }
        if (statement.issued <= last.issued)
            return refused(QStringLiteral("it was issued on %1, %2 the one already applied (issued on %3)")
                               .arg(CatalogueFreshness::displayTime(statement.issued),
                                   statement.issued == last.issued ? QStringLiteral("no later than")
                                                                   : QStringLiteral("before"),
                                   CatalogueFreshness::displayTime(last.issued)));
    }

    KeyRotation rotation;
    QString error;
    if (!CatalogueSignature::verify(statement.signedText(), statement.signatures, now.trusted,
            QStringLiteral("the key statement"), &error, &rotation.signers))
        return refused(error);
    QList<QByteArray> standing = rotation.signers;
    for (const QByteArray& key : statement.revoked)
        standing.removeAll(key);
    if (standing.isEmpty())
        return refused(
            QStringLiteral("it is signed only by key %1, which it revokes").arg(keyIds(rotation.signers)));
    for (const QByteArray& key : statement.trusted) {
        if (now.revoked.contains(key) || statement.revoked.contains(key))
            return refused(QStringLiteral("it trusts key %1, which is revoked").arg(keyIds({ key })));
    }

    QList<QByteArray> trustedAfter = now.trusted;
    rotation.after.listed = now.listed;
    rotation.after.revoked = now.revoked;
    for (const QByteArray& key : statement.trusted) {
        if (!trustedAfter.contains(key))
            trustedAfter.append(key);
        if (!rotation.after.listed.contains(key))
            rotation.after.listed.append(key);
    }
    for (const QByteArray& key : statement.revoked) {
        trustedAfter.removeAll(key);
        rotation.after.listed.removeAll(key);
        if (!rotation.after.revoked.contains(key))
            rotation.after.revoked.append(key);
    }
    // Unreachable while a signer stands, but the rule is what keeps the user from being locked out.
    if (trustedAfter.isEmpty())
        return refused(QStringLiteral("it revokes every key this updater trusts and trusts no other"));
    rotation.after.trusted = trustedAfter;
    rotation.verdict = Apply;
    return rotation;
}

} // namespace PelkPlus
