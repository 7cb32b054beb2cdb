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
    // What the window keeps showing while the node stays refused and is tried again underneath:
    // the node, the fix that applies here (the sandbox's permission, or the udev rule or a group),
    // and that the updater goes on by itself once it may open the device.
    static QString waitingText(const QString& path);
};

} // namespace PelkPlus
