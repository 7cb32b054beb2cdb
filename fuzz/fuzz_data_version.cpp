// Styles and Ensemble Audio versions as the manifest writes them: an unsigned number in any base.
#include "FuzzSupport.h"

#include "app/SemanticVersion.h"
#include "device/FirmwareVersion.h"

using namespace PelkPlus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzzText(data, size);
    const std::uint32_t ensemble = ensembleAudioVersionFromText(text);
    const std::uint16_t styles = stylesVersionFromText(text);
    fuzzAssert(styles == (ensemble & 0xffffu), "a Styles version is the low half of the number");
    // What the window shows reads back as the same version.
    fuzzAssert(
        ensembleAudioVersionFromText(hexVersionText(ensemble)) == ensemble, "the shown form reads back");
    return 0;
}
