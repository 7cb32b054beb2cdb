#pragma once

#include "device/Connection.h"

#include <QList>

namespace PelkPlus {

// The faces count devices, not HID interfaces: the interfaces of one device share its model
// and serial number, and the first one listed carries the update, as in the window.
class DeviceChoice
{
public:
    // One connection per device, its first listed interface, in listing order. A connection without
    // a serial number cannot be told apart from another device's and counts as a device of its own.
    static QList<Connection> devices(const QList<Connection>& connections);
};

} // namespace PelkPlus
