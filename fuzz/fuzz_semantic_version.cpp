// The updater's own version type, as read from the manifest's application components.
#include "FuzzSupport.h"

#include "app/SemanticVersion.h"

using namespace PelkPlus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SemanticVersion version;
    try {
        version = SemanticVersion(fuzzText(data, size));
    } catch (const SemanticVersion::error&) {
        return 0;
    }
    // The text form reads back as the same version, and precedence is a strict order.
    SemanticVersion again;
    try {
        again = SemanticVersion(version.toString());
    } catch (const SemanticVersion::error&) {
        fuzzAssert(false, "the text form of a version parses");
    }
    fuzzAssert(again.toString() == version.toString(), "the text form reads back unchanged");
    fuzzAssert(!(version < again) && !(again < version), "a version is not before itself");
    const SemanticVersion release(
        QStringLiteral("%1.%2.%3").arg(version.major).arg(version.minor).arg(version.patch));
    fuzzAssert(version.preRelease.isEmpty() || version < release, "a pre-release comes before its release");
    return 0;
}
