#pragma once

#include "device/DeviceInfo.h"
#include "update/ComponentType.h"

#include <QString>

namespace PelkPlus {

enum class VerificationOutcome {
    // The device reports the version that was sent.
    Verified,
    // The device came back with another version: it did not take the component.
    NotApplied,
    // Nothing to compare: a file of unknown version, or a type the device does not report.
    NotChecked,
};

struct Verification
{
    VerificationOutcome outcome = VerificationOutcome::NotChecked;
    // Both as the user reads them ("Production 2.7", "0x1A2B").
    QString sent;
    QString reported;
};

// Whether a device that came back after an install runs what was sent. The version sent is
// compared as the device's header would present it for this model: a Pelk reads its release types
// with both low bits set, and a Pelk+ whose MCU firmware is Alpha 6.4 or older packs its DSP version
// into one byte. Packing loses bits, so a device that kept its old version can read as the one
// sent; then nothing is claimed. A pure function of the device's records before the install and
// after the reboot.
class InstallVerifier
{
public:
    static Verification verify(
        const DeviceInfo& before, const DeviceInfo& after, ComponentType type, const QString& versionSent);
};

} // namespace PelkPlus
