#include "device/DeviceInfo.h"

#include "device/HeaderRecord.h"

namespace PelkPlus {

DeviceInfo DeviceInfo::fromHeader(int model, const HeaderRecord& header)
{
    DeviceInfo info;
    info.model = model;
    info.tag = header.tag;
    info.mcuVersion = FirmwareVersion::fromWord(header.mcuWord);
    info.dspVersion = FirmwareVersion::fromWord(header.dspWord);
    info.stylesVersion = header.stylesVersion;
    info.ensembleVersion = header.ensembleVersion;
    return info;
}

void registerDeviceMetaTypes()
{
    qRegisterMetaType<PelkPlus::DeviceInfo>("PelkPlus::DeviceInfo");
    qRegisterMetaType<PelkPlus::DeviceInfo>("DeviceInfo");
}

} // namespace PelkPlus
