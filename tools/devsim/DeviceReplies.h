#pragma once

#include "SimulatedDeviceSettings.h"

#include <QByteArray>

namespace PelkPlus {

// The input reports (64 bytes each) a simulated device answers with: its header, laid out as the
// device's firmware lays it out (and spoilt as its settings ask), and its answer to a ready query.
class DeviceReplies
{
public:
    static QByteArray header(const SimulatedDeviceSettings& settings);
    // ready: 1 when the device is ready to take a transfer, 0 when not yet.
    static QByteArray ready(int ready);
};

} // namespace PelkPlus
