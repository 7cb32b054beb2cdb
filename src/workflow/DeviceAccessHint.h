#pragma once

#include <QString>

namespace PelkPlus {

// What the user is told when this account may not open a device's node: the window and the command
// line say the same.
class DeviceAccessHint
{
public:
    static QString text(const QString& path);
};

} // namespace PelkPlus
