#pragma once

#include "SimulatedDevice.h"

#include <QStringList>
#include <QVector>

namespace PelkPlus {

// Reads the simulator's device options and the commands it takes while running, so that the
// command line and standard input speak the same words.
class DeviceOptions
{
public:
    // Applies one "name value" setting to a device; false with a reason when it is not understood.
    static bool apply(
        SimulatedDevice::Settings& settings, const QString& name, const QString& value, QString* error);
    // Names that take no value ("--paced", "--no-drop-off" ...).
    static bool applyFlag(SimulatedDevice::Settings& settings, const QString& name);
    static QString usage();
};

} // namespace PelkPlus
