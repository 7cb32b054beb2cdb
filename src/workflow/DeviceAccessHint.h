#pragma once

#include <QString>

namespace PelkPlus {

// What the user is told when this account may not open a device's node: the window and the command
// line say the same.
class DeviceAccessHint
{
public:
    static QString text(const QString& path);
    // Inside a Flatpak or a snap a device the sandbox was not given cannot be opened, whatever the
    // node's permissions: the permission it lacks, and how to grant it. Empty outside a sandbox.
    static QString sandboxText();
};

} // namespace PelkPlus
