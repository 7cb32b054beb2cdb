#include "workflow/InstallVerifier.h"

#include "workflow/VersionText.h"

#include "app/SemanticVersion.h"
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"

namespace PelkPlus {

namespace {

// The newest MCU firmware that still packs the DSP version into one header byte.
constexpr unsigned lastPackingMcuWord = 0x0064;

// A firmware version as the header of this device would carry it back.
FirmwareVersion asReported(const FirmwareVersion& sent, const DeviceInfo& after, ComponentType type)
{
    FirmwareVersion version = sent;
    if (after.model == Base) {
        version.releaseType |= 0x03;
    } else if (type == ComponentType::DspFirmware && after.mcuVersion.toWord() <= lastPackingMcuWord) {
        // Two bits of release type, three of major and three of minor survive the packing.
        version.releaseType &= 0x03;
        version.major &= 0x07;
        version.minor &= 0x07;
    }
    // Only what fits the header's version word.
    return FirmwareVersion::fromWord(version.toWord());
}

} // namespace

Verification InstallVerifier::verify(
    const DeviceInfo& before, const DeviceInfo& after, ComponentType type, const QString& versionSent)
{
    Verification result;
    if (versionSent.trimmed().isEmpty())
        return result;
    result.reported = VersionText::ofDevice(after, type);
    result.sent = VersionText::displayed(type, versionSent);
    bool matches = false;
    switch (type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware: {
        const FirmwareVersion sent = parseFirmwareVersion(versionSent);
        const FirmwareVersion reported
            = type == ComponentType::McuFirmware ? after.mcuVersion : after.dspVersion;
        const FirmwareVersion expected = asReported(sent, after, type);
        matches = expected == reported;
        // Where the header cannot carry the whole version, an unchanged reading tells nothing:
        // the device may have kept the old firmware, whose packed form is the same.
        const FirmwareVersion unchanged
            = type == ComponentType::McuFirmware ? before.mcuVersion : before.dspVersion;
        if (matches && expected != FirmwareVersion::fromWord(sent.toWord()) && reported == unchanged)
            return result;
        break;
    }
    case ComponentType::Styles: {
        const quint16 sent = stylesVersionFromText(versionSent);
        matches = sent == after.stylesVersion;
        break;
    }
    case ComponentType::EnsembleAudio: {
        const quint32 sent = ensembleAudioVersionFromText(versionSent);
        matches = sent == after.ensembleVersion;
        break;
    }
    default:
        return Verification();
    }
    result.outcome = matches ? VerificationOutcome::Verified : VerificationOutcome::NotApplied;
    return result;
}

} // namespace PelkPlus
