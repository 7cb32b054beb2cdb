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

} // namespace PelkPlus
