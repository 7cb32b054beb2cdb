#pragma once

#include <QMetaType>
#include <QString>

namespace PelkPlus {

// What a manifest component is. Values 0 to 3 are sent to the device and are also the file types
// of the device transfer; 4 and 5 are the updater application itself.
enum class ComponentType : unsigned int {
    McuFirmware = 0,
    DspFirmware = 1,
    Styles = 2,
    EnsembleAudio = 3,
    WindowsApplication = 4,
    MacApplication = 5,
};

// The name shown to the user ("MCU Firmware", ...); "Unknown Component" for any other value.
QString componentTypeName(ComponentType type);

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::ComponentType)
