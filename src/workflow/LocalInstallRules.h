#pragma once

#include "device/DeviceInfo.h"
#include "update/ComponentType.h"
#include "update/ManifestData.h"

#include <QString>

#include <optional>

namespace PelkPlus {

// Why a file chosen on this computer is not installed: the box's title and its text.
struct LocalInstallRefusal
{
    QString title;
    QString text;
};

// The rules a file chosen on this computer must pass before it becomes the plan: pure functions of
// its name, its size and the connected device.
class LocalInstallRules
{
public:
    // The filter of the file dialog that asks for a file of the type: "DSP Firmware (*.ldr)".
    static QString fileFilter(ComponentType type);
    // Why the file may not be installed as a component of the type; none when it may. A file
    // chosen for the wrong kind of component, one with nothing in it or one larger than any file of
    // the type (largestComponentSize) never reaches the device;
    // nor MCU firmware for a connected device without the USB boot loader (device is null while
    // no device is connected).
    static std::optional<LocalInstallRefusal> refusal(
        ComponentType type, const QString& path, qint64 size, const DeviceInfo* device);
    // Why a file with this SHA-256 is not installed as a component of the type on device (null
    // while none is connected, and then only the type is judged): the catalogue lists the very
    // file as another component or for the other model, and never as what it was chosen for.
    // None where the catalogue does not know the file.
    static std::optional<LocalInstallRefusal> catalogueRefusal(ComponentType type, const QByteArray& sha256,
        const ManifestData& catalogue, const DeviceInfo* device);
};

} // namespace PelkPlus
