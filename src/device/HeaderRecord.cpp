#include "device/HeaderRecord.h"

#include "device/DeviceModel.h"

namespace PelkPlus {

HeaderRecord decodeHeader(const unsigned char* r, int model)
{
    HeaderRecord header;
    header.ensembleVersion = std::uint32_t(r[14]) << 24 | std::uint32_t(r[12]) << 16
        | std::uint32_t(r[11]) << 8 | std::uint32_t(r[10]);
    header.stylesVersion = std::uint16_t(r[16] << 8 | r[15]);
    header.tag = std::uint16_t(r[23] << 8 | r[22]);
    if (model == Base) {
        // A Base reports its release types loosely; both low bits always read as set.
        header.mcuWord = std::uint16_t((r[21] | 0x03) << 8 | r[20]);
        header.dspWord = std::uint16_t((r[19] | 0x03) << 8 | r[18]);
    } else {
        header.mcuWord = std::uint16_t(r[21] << 8 | r[20]);
        if (header.mcuWord <= 0x0064) {
            // MCU firmware up to Alpha 6.4 packs the DSP version into byte 18 alone.
            const unsigned b = r[18];
            const unsigned high = ((b >> 7) & 1) * 2 + ((b >> 3) & 1);
            header.dspWord = std::uint16_t(high << 8 | (b & 0x77));
        } else {
            header.dspWord = std::uint16_t(r[19] << 8 | r[18]);
        }
    }
    return header;
}

} // namespace PelkPlus
