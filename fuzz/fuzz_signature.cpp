// The signature file served beside the manifest, as the update manager reads it: parsed, then
// checked against a manifest with a trusted key that signed nothing in it.
#include "FuzzSupport.h"

#include "update/CatalogueSignature.h"

#include <QByteArray>
#include <QList>

using namespace PelkPlus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The manager refuses larger downloads before reading them.
    if (qint64(size) > 2 * CatalogueSignature::maximumFileSize)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));

    QList<CatalogueSignature::Signature> signatures;
    const bool parsed = CatalogueSignature::parse(bytes, &signatures);
    fuzzAssert(parsed || signatures.isEmpty(), "a refused file yields no signatures");
    fuzzAssert(signatures.size() <= CatalogueSignature::maximumSignatures, "no more signatures than allowed");

    QByteArray rewritten = "pelk-catalogue-signature ed25519\n";
    for (const CatalogueSignature::Signature& signature : qAsConst(signatures)) {
        fuzzAssert(signature.keyId.size() == 16, "a key id of 16 digits");
        fuzzAssert(
            signature.signature.size() == CatalogueSignature::signatureSize, "a signature of 64 bytes");
        rewritten += "key-id " + signature.keyId + "\nsignature " + signature.signature.toBase64() + '\n';
    }
    if (parsed) {
        // What was read is all the file says: written again, it reads the same.
        QList<CatalogueSignature::Signature> again;
        fuzzAssert(CatalogueSignature::parse(rewritten, &again) && again.size() == signatures.size(),
            "a file written from what was read reads the same");
    }

    // A key that signed nothing here: no input makes it verify.
    static const QByteArray key(CatalogueSignature::publicKeySize, '\x5a');
    QString error;
    QList<QByteArray> verifiedBy;
    fuzzAssert(!CatalogueSignature::verify(
                   QByteArrayLiteral("<Family Name=\"PELK\"/>"), bytes, { key }, &error, &verifiedBy),
        "an unsigned manifest never verifies");
    fuzzAssert(verifiedBy.isEmpty() && !error.isEmpty(), "a refusal says why and names no key");
    return 0;
}
