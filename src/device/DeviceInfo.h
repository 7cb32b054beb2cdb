#pragma once

#include "device/FirmwareVersion.h"

#include <QMetaType>

namespace PelkPlus {

struct HeaderRecord;

// The connected device's model and the versions of its four components.
struct DeviceInfo
{
    int model = 0;
    int tag = 0;
    FirmwareVersion mcuVersion;
    FirmwareVersion dspVersion;
    quint16 stylesVersion = 0;
    quint32 ensembleVersion = 0;

    static DeviceInfo fromHeader(int model, const HeaderRecord& header);
};

// Registers DeviceInfo as "PelkPlus::DeviceInfo" so that queued signals can carry it.
void registerDeviceMetaTypes();

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::DeviceInfo)
