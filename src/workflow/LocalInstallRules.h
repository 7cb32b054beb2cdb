#pragma once

#include "device/DeviceInfo.h"
#include "update/ComponentType.h"

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
    // chosen for the wrong kind of component, or one with nothing in it, never reaches the device;
    // nor MCU firmware for a connected device without the USB boot loader (device is null while
    // no device is connected).
    static std::optional<LocalInstallRefusal> refusal(
        ComponentType type, const QString& path, qint64 size, const DeviceInfo* device);
};

} // namespace PelkPlus
