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

// The largest file a component of this type can be: what the device's memory for it holds (the
// DSP firmware as the text that spells its bytes), with room for growth; an updater package up to
// the bound of every download. A server that announces more is not serving that component.
qint64 largestComponentSize(ComponentType type);

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::ComponentType)
