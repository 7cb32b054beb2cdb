#pragma once

#include "update/CatalogueHeader.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace PelkPlus {

// Keeps a signed catalogue from being replayed or from freezing the updates. One that has expired
// is an old copy kept alive (the user would never learn of updates); one published before the
// newest already accepted would take a device back to older versions; one dated later than the
// clock allows would, once remembered, refuse every genuine catalogue after it.
//
// Remembers one mark for the publisher, whatever key signed: the publication time and the SHA-256
// of the newest catalogue accepted, in a small file of the data location written whole or not at
// all. A mark kept per key would let a key rotation bring back a catalogue older than one accepted
// under the key retired.
//
// The same file keeps the key statement applied last (its time and the SHA-256 of its signed text),
// so that an older statement carried again cannot bring back what a newer one changed.
class CatalogueFreshness
{
public:
    // A publisher's clock and this computer's may differ by this much.
    static constexpr qint64 clockToleranceSecs = 10 * 60;
    // However long Expires says, a catalogue holds no longer than this after it was published.
    static constexpr int maximumValidityDays = 90;

    // The file in the per-user data location (AppDataLocation).
    static QString defaultPath();

    explicit CatalogueFreshness(const QString& path = defaultPath());

    // Empty when a verified catalogue with this header and the SHA-256 of its bytes may be accepted
    // now; otherwise the reason it is refused, in words for the user.
    QString refusal(const CatalogueHeader& header, const QByteArray& digest, const QDateTime& now) const;

    // The publication time of the newest catalogue accepted; invalid when none.
    QDateTime newestAccepted() const;

    // Remembers a catalogue accepted; the mark never goes back. False, with the reason, when the
    // file cannot be written.
    bool recordAccepted(const QDateTime& published, const QByteArray& digest, QString* error);

    // The key statement applied last; an invalid time when none.
    void appliedStatement(QDateTime* issued, QByteArray* digest) const;
    // Remembers a key statement applied; false, with the reason, when the file cannot be written.
    bool recordStatement(const QDateTime& issued, const QByteArray& digest, QString* error);

    // When a catalogue stops being accepted: its Expires, or maximumValidityDays after Published
    // when that comes first.
    static QDateTime effectiveExpiry(const CatalogueHeader& header);

    // Times as the refusals show them.
    static QString displayTime(const QDateTime& time);

private:
    struct Mark
    {
        QDateTime published;
        // Empty for a mark carried over from the records kept per key, which had none.
        QByteArray digest;
        QDateTime statementIssued;
        QByteArray statementDigest;
    };

    Mark load() const;
    bool save(const Mark& mark, QString* error) const;

    QString filePath;
};

} // namespace PelkPlus
