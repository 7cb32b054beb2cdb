#pragma once

#include "update/CatalogueSignature.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

class QXmlStreamReader;
class QXmlStreamWriter;

namespace PelkPlus {

// The publisher's word on its signing keys: the public keys to trust from now on and those to
// revoke, as of a time, signed by keys the updater already trusts. It travels inside the catalogue
// as an element of the root, which the manifest's grammar skips, so older updaters read the
// catalogue as before; the catalogue's own signature still covers every byte of it.
//
//     <KeyStatement Issued="2026-12-01T09:30:00Z">
//       <Trust Key="<base64 public key>"/>
//       <Revoke Key="<base64 public key>"/>
//       <Signature KeyId="<16 hexadecimal digits>" Value="<base64 signature>"/>
//     </KeyStatement>
//
// The signatures cover signedText(), not the XML, so that no reformatting of the element can
// change what was signed.
class KeyStatement
{
public:
    // More keys than a rotation ever names are refused.
    static constexpr int maximumKeys = 8;

    // The text the signatures cover: "pelk-key-statement ed25519", "issued <time>", then one
    // "trust <key>" line per key trusted and one "revoke <key>" line per key revoked.
    QByteArray signedText() const;
    // SHA-256 of signedText(): tells the statement applied apart from another of the same time.
    QByteArray digest() const;

    // Signs the statement with each secret key, in the order given; false when one is not a key.
    bool sign(const QList<QByteArray>& secretKeys);

    // The element, and the statement as a file of its own (what pelk-catalogue rotate writes).
    void write(QXmlStreamWriter* xml) const;
    QByteArray document() const;

    // Reads a statement file; false, with why, when it is not one.
    static bool readDocument(const QByteArray& document, KeyStatement* statement, QString* error);
    // Reads the statement a catalogue carries; found is false when it carries none. False, with
    // why, when the one it carries (or the catalogue around it) cannot be read, or it carries two.
    static bool readFromCatalogue(
        const QByteArray& manifest, KeyStatement* statement, bool* found, QString* error);

    QDateTime issued;
    QList<QByteArray> trusted;
    QList<QByteArray> revoked;
    QList<CatalogueSignature::Signature> signatures;

private:
    // Reads the element the reader has just entered.
    static bool readElement(QXmlStreamReader* xml, KeyStatement* statement, QString* error);
};

} // namespace PelkPlus
