#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace PelkPlus {

class KeyStatement;

// pelk-catalogue rotate: the statement that tells updaters to trust a new signing key and revoke old
// ones, signed with keys they trust now, written to a file of its own that --key-statement then
// puts into every catalogue written.
class KeyStatementWriter
{
public:
    // Builds and signs the statement and proves each signature with its key's public half. Refuses
    // a statement that names no key, that trusts a key it revokes, or whose every signer it
    // revokes: updaters refuse those, and the last would hand them to whoever holds a stolen key.
    static bool make(const QList<QByteArray>& secretKeys, const QList<QByteArray>& trusted,
        const QList<QByteArray>& revoked, const QDateTime& issued, KeyStatement* statement, QString* error);

    // Writes the statement file whole or not at all.
    static bool save(const QString& path, const KeyStatement& statement, QString* error);
    // Reads a statement file, as --key-statement does.
    static bool load(const QString& path, KeyStatement* statement, QString* error);
};

} // namespace PelkPlus
