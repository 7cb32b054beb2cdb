#pragma once

#include "update/CatalogueHeader.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

namespace PelkPlus {

// Keeps a signed catalogue from being replayed: one that has expired is an old copy kept alive
// (the user would never learn of updates), and one published before the newest already accepted
// from the same key would take a device back to older versions. Remembers, per signing key, the
// publication time of the newest catalogue accepted, in a small file of the data location written
// whole or not at all.
class CatalogueFreshness
{
public:
    // The file in the per-user data location (AppDataLocation).
    static QString defaultPath();

    explicit CatalogueFreshness(const QString& path = defaultPath());

    // Empty when a verified catalogue with this header, verified by these keys, may be accepted
    // now; otherwise the reason it is refused, in words for the user.
    QString refusal(const CatalogueHeader& header, const QList<QByteArray>& keys, const QDateTime& now) const;

    // The publication time of the newest catalogue accepted from a key; invalid when none.
    QDateTime newestAccepted(const QByteArray& key) const;

    // Remembers a catalogue accepted from these keys; false, with the reason, when the file
    // cannot be written.
    bool recordAccepted(const QList<QByteArray>& keys, const QDateTime& published, QString* error);

    // Times as the refusals show them.
    static QString displayTime(const QDateTime& time);

private:
    // Key id to publication time, as the file holds them.
    QMap<QByteArray, QDateTime> load() const;

    QString filePath;
};

} // namespace PelkPlus
