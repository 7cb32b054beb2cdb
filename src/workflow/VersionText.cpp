#include "workflow/VersionText.h"

#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"

namespace PelkPlus {

QString VersionText::displayed(ComponentType type, const QString& catalogueVersion)
{
    const QString text = catalogueVersion.trimmed();
    switch (type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware: {
        // Already in display form: "Production 2.7".
        if (text.contains(QLatin1Char(' ')))
            return text;
        const FirmwareVersion version = parseFirmwareVersion(text);
        return version.toString() == text ? version.displayText() : catalogueVersion;
    }
    case ComponentType::Styles:
    case ComponentType::EnsembleAudio: {
        bool ok = false;
        const quint32 value = text.toUInt(&ok, 0);
        const quint32 limit = type == ComponentType::Styles ? 0xFFFFu : 0xFFFFFFFFu;
        return ok && value <= limit ? hexVersionText(value) : catalogueVersion;
    }
    default:
        return catalogueVersion;
    }
}

QString VersionText::withCatalogue(ComponentType type, const QString& catalogueVersion)
{
    const QString shown = displayed(type, catalogueVersion);
    if (shown == catalogueVersion || catalogueVersion.isEmpty())
        return shown;
    return QStringLiteral("%1 (%2)").arg(shown, catalogueVersion);
}

QString VersionText::ofDevice(const DeviceInfo& info, ComponentType type)
{
    switch (type) {
    case ComponentType::McuFirmware:
        return info.mcuVersion.displayText();
    case ComponentType::DspFirmware:
        return info.dspVersion.displayText();
    case ComponentType::Styles:
        return info.model == Base ? QString() : hexVersionText(info.stylesVersion);
    case ComponentType::EnsembleAudio:
        return hexVersionText(info.ensembleVersion);
    default:
        return QString();
    }
}

bool VersionText::typeFromName(const QString& name, ComponentType* type)
{
    for (ComponentType known : { ComponentType::McuFirmware, ComponentType::DspFirmware,
             ComponentType::Styles, ComponentType::EnsembleAudio }) {
        if (componentTypeName(known) == name) {
            *type = known;
            return true;
        }
    }
    return false;
}

QString VersionText::recordedBefore(const QString& component, const QString& version)
{
    ComponentType type = ComponentType::MacApplication;
    return typeFromName(component, &type) ? displayed(type, version) : version;
}

QString VersionText::recordedSent(const QString& component, const QString& version)
{
    ComponentType type = ComponentType::MacApplication;
    return typeFromName(component, &type) ? withCatalogue(type, version) : version;
}

} // namespace PelkPlus
