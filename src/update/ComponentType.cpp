#include "update/ComponentType.h"

namespace PelkPlus {

QString componentTypeName(ComponentType type)
{
    switch (type) {
    case ComponentType::McuFirmware:
        return QStringLiteral("MCU Firmware");
    case ComponentType::DspFirmware:
        return QStringLiteral("DSP Firmware");
    case ComponentType::Styles:
        return QStringLiteral("Styles");
    case ComponentType::EnsembleAudio:
        return QStringLiteral("Ensemble Audio");
    case ComponentType::WindowsApplication:
        return QStringLiteral("Windows Application");
    case ComponentType::MacApplication:
        return QStringLiteral("Mac OS X Application");
    }
    return QStringLiteral("Unknown Component");
}

qint64 largestComponentSize(ComponentType type)
{
    constexpr qint64 mebibyte = 1024 * 1024;
    switch (type) {
    case ComponentType::McuFirmware:
        // The MCU's own flash.
        return mebibyte;
    case ComponentType::DspFirmware:
        // 1.6 MiB of program memory, five characters a byte.
        return 8 * mebibyte;
    case ComponentType::Styles:
        // The style memory; the Styles published take under 100 KiB of it.
        return 4 * mebibyte;
    case ComponentType::EnsembleAudio:
        // The Pelk+'s sound memory, of which its Ensemble Audio fills 13 MiB.
        return 32 * mebibyte;
    case ComponentType::WindowsApplication:
    case ComponentType::MacApplication:
        break;
    }
    return 256 * mebibyte;
}

} // namespace PelkPlus
