#include "workflow/DeviceChoice.h"

#include <algorithm>

namespace PelkPlus {

QList<Connection> DeviceChoice::devices(const QList<Connection>& connections)
{
    QList<Connection> devices;
    for (const Connection& connection : connections) {
        const bool known = !connection.serialNumber.isEmpty()
            && std::any_of(devices.cbegin(), devices.cend(), [&connection](const Connection& device) {
                   return device.model == connection.model && device.serialNumber == connection.serialNumber;
               });
        if (!known)
            devices.append(connection);
    }
    return devices;
}

} // namespace PelkPlus
