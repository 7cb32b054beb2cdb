#include "workflow/VersionText.h"

#include "app/SemanticVersion.h"
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "update/Component.h"

namespace PelkPlus {

namespace {

// A version before an install, recorded in the device's display form ("Production 1.2", as
// ofDevice() gives it) or none at all (Styles on a Pelk): shown as recorded rather than read again
// as a catalogue's. What was sent is always recorded as the catalogue wrote it.
bool isShownForm(const QString& version)
{
    return version.trimmed().isEmpty() || version.contains(QLatin1Char(' '));
}

} // namespace

QString VersionText::displayed(ComponentType type, const QString& catalogueVersion)
{
    switch (type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware:
        return parseFirmwareVersion(catalogueVersion).displayText();
    case ComponentType::Styles:
        return hexVersionText(stylesVersionFromText(catalogueVersion));
    case ComponentType::EnsembleAudio:
        return hexVersionText(ensembleAudioVersionFromText(catalogueVersion));
    default:
        return QString();
    }
}

QString VersionText::withCatalogue(ComponentType type, const QString& catalogueVersion)
{
    // No text is no version known (a local file's), not the 0 that planning would read it as.
    const QString shown
        = catalogueVersion.trimmed().isEmpty() ? QString() : displayed(type, catalogueVersion);
    if (shown.isEmpty())
        return catalogueVersion;
    if (shown == catalogueVersion)
        return shown;
    return QStringLiteral("%1 (%2)").arg(shown, catalogueVersion);
}

QString VersionText::ofComponent(const Component& component)
{
    return displayed(component.type, component.version);
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
    return typeFromName(component, &type) && !isShownForm(version) ? displayed(type, version) : version;
}

QString VersionText::recordedSent(const QString& component, const QString& version)
{
    ComponentType type = ComponentType::MacApplication;
    return typeFromName(component, &type) ? withCatalogue(type, version) : version;
}

} // namespace PelkPlus
