// The device's header reply as the link reads it when it opens a device: whatever the HID read
// returns is checked and decoded with the model's rules into the versions the window shows.
#include "FuzzSupport.h"

#include "device/DeviceInfo.h"
#include "device/DeviceLink.h"
#include "device/DeviceModel.h"
#include "device/HidBackend.h"

#include <algorithm>
#include <cstring>

using namespace PelkPlus;

namespace {

// One device whose every read returns the bytes under test.
const std::uint8_t* replyData = nullptr;
std::size_t replySize = 0;
int deviceToken = 0;

int writeReport(HidDevice*, const unsigned char*, size_t length)
{
    return int(length);
}

int readReport(HidDevice*, unsigned char* data, size_t length, int)
{
    const std::size_t n = std::min(length, replySize);
    std::memcpy(data, replyData, n);
    return int(n);
}

const HidBackend fuzzBackend = {
    "fuzz",
    [](unsigned short, unsigned short) -> HidDeviceEntry* { return nullptr; },
    [](HidDeviceEntry*) {},
    [](const char*) { return reinterpret_cast<HidDevice*>(&deviceToken); },
    writeReport,
    readReport,
    [](HidDevice*) {},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    setHidBackend(&fuzzBackend);
    // The first byte picks the model; the reply is what follows.
    const int model = data[0] & 1 ? Plus : Base;
    replyData = data + 1;
    replySize = size - 1;

    int error = 0;
    DeviceLink* link = openLink("fuzz", model, 0, &error);
    fuzzAssert((link != nullptr) == (error == 0), "a link opens exactly when no error is given");
    if (!link)
        return 0;
    const HeaderRecord header = linkHeader(link);
    const DeviceInfo info = DeviceInfo::fromHeader(model, header);
    info.mcuVersion.displayText();
    info.dspVersion.displayText();
    hexVersionText(info.stylesVersion);
    hexVersionText(info.ensembleVersion);
    fuzzAssert(info.mcuVersion.toWord() == header.mcuWord, "the MCU version keeps its word");
    fuzzAssert(info.dspVersion.toWord() == header.dspWord, "the DSP version keeps its word");
    if (model == Base)
        fuzzAssert((header.mcuWord >> 8 & 3) == 3 && (header.dspWord >> 8 & 3) == 3,
            "a Base's release bits read set");
    closeLink(link);
    return 0;
}
