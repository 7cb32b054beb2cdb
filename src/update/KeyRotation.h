#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace PelkPlus {

class KeyStatement;

// Whether a key statement may change what the updater trusts, and what it trusts afterwards. The
// statement must be signed by a key trusted now that it does not itself revoke (a stolen key alone
// cannot hand the updates to another), be newer than the statement applied last, not take back a
// revoked key, and leave some key trusted.
class KeyRotation
{
public:
    enum Verdict {
        Apply,
        // The statement applied last, carried again: nothing changes.
        AlreadyApplied,
        Refuse,
    };

    struct Keys
    {
        // Every key trusted now (the built-in one and the settings', less those revoked).
        QList<QByteArray> trusted;
        // update/trusted-keys and update/revoked-keys as they are listed.
        QList<QByteArray> listed;
        QList<QByteArray> revoked;
    };

    struct LastApplied
    {
        QDateTime issued;
        QByteArray digest;
    };

    Verdict verdict = Refuse;
    // Why it is refused, in words for the user.
    QString refusal;
    // The trusted keys that signed it, and, for Apply, what the two settings list afterwards.
    QList<QByteArray> signers;
    Keys after;

    static KeyRotation evaluate(
        const KeyStatement& statement, const Keys& now, const LastApplied& last, const QDateTime& clock);

    // Key ids of keys, for the log: "1f2e3d4c5b6a7988, ...".
    static QString keyIds(const QList<QByteArray>& keys);
};

} // namespace PelkPlus
