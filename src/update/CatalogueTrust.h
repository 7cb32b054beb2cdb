#pragma once

#include "update/ManifestData.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace PelkPlus {

// What a check trusts of the catalogue it fetched: the signing keys the updater trusts, whether the
// catalogue carries a signature by one of them and, once it does, that it is fresh (neither
// expired, nor dated ahead of the clock, nor older than one accepted before) and gives the digest
// and the size of every file. Refusals come
// back as texts for the check to report.
class CatalogueTrust
{
public:
    // Starts a check: reads the trusted keys anew and forgets the last catalogue's signature.
    // False, with the problem, where a key setting cannot be read.
    bool reload(QString* problem);
    // Some key is trusted, so the catalogue must carry a signature.
    bool requiresSignature() const { return !trustedKeys.isEmpty(); }
    // Whether signature is a trusted key's over the manifest's bytes; error says why not.
    bool verify(const QByteArray& manifest, const QByteArray& signature, QString* error);
    // Applies the key statement the catalogue carries, before its signature is checked, so that a
    // catalogue signed with a key the statement trusts verifies in the same check: the keys go to
    // the settings, the statement to the freshness record and a line to the log. Empty when there is
    // none, when it was applied before, when it is applied now, and while no key is trusted (it
    // cannot be checked then); otherwise why the catalogue is refused.
    QString applyKeyStatement(const QByteArray& manifest);
    // The catalogue was verified; false while no key is trusted.
    bool isVerified() const { return verified; }
    void forget() { verified = false; }

    // Why a verified catalogue is refused, empty when it is not or was not verified: by its age,
    // or because it lists a device image without its digest or its size.
    QString freshnessRefusal(const QByteArray& manifest) const;
    QString digestRefusal(const ManifestData& data) const;
    // Remembers a verified catalogue as the newest accepted, whichever trusted key signed it; false,
    // with the reason, when that cannot be written. An unverified one is not remembered.
    bool recordAccepted(const QByteArray& manifest, QString* error) const;

private:
    QList<QByteArray> trustedKeys;
    bool verified = false;
};

} // namespace PelkPlus
