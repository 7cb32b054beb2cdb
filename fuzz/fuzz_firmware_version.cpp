// MCU and DSP firmware versions as the manifest writes them ("r.M.m"), and as the device reports
// them (a 16-bit word).
#include "FuzzSupport.h"

#include "device/FirmwareVersion.h"

using namespace PelkPlus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FirmwareVersion version = parseFirmwareVersion(fuzzText(data, size));
    version.displayText();
    fuzzAssert(parseFirmwareVersion(version.toString()) == version, "the text form reads back unchanged");
    fuzzAssert(!(version < version) && version <= version, "a version is not before itself");

    if (size >= 2) {
        const unsigned word = unsigned(data[0]) << 8 | data[1];
        const FirmwareVersion reported = FirmwareVersion::fromWord(word);
        fuzzAssert(reported.toWord() == word, "a reported word splits and joins unchanged");
        fuzzAssert(parseFirmwareVersion(reported.toString()) == reported, "a reported version reads back");
    }
    return 0;
}
