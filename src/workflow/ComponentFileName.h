#pragma once

#include "update/ComponentType.h"

#include <QString>

namespace PelkPlus {

// How the name of a component file on this computer ends: a whole file name for MCU firmware and
// Styles ("Update.bin", "StyleData.bin"), an extension for the others (".ldr", ".flac"). A file
// chosen for the wrong kind of component is refused before it can reach the device.
class ComponentFileName
{
public:
    // Empty for a type that is never installed from a file.
    static QString expectedEnding(ComponentType type);
    static bool fits(ComponentType type, const QString& path);
    // Why a file is refused, with the ending expected: "This file does not seem to be a valid DSP
    // Firmware file: its name must end in ".ldr"."
    static QString refusalText(ComponentType type);
};

} // namespace PelkPlus
