#pragma once

#include "device/DeviceInfo.h"
#include "update/Component.h"
#include "update/ManifestProduct.h"

#include <QList>
#include <QStringList>

namespace PelkPlus {

// What an update would install, and why some newer component cannot be.
struct UpdatePlan
{
    QList<Component> components;
    QStringList warnings;
};

// The planning rules: which of the manifest's components a device needs. Pure functions of the
// device's versions and the manifest's components; they only log what they compare.
class UpdatePlanner
{
public:
    // The manifest product whose components fit the device.
    static ManifestProduct productFor(const DeviceInfo& info);

    // Manifest order is install order: nothing is sorted, and each component is compared alone.
    // Firmware is planned when newer than the device's; data when it differs from the device's.
    // With forceAll every component is planned whatever the device holds. Never planned: Styles
    // for a Pelk, MCU firmware for a device without the USB boot loader (with a warning).
    static UpdatePlan plan(const DeviceInfo& info, const QList<Component>& components, bool forceAll);

    // Whether the device's MCU firmware has the USB boot loader that an MCU update needs.
    static bool canUpdateMcuByUsb(const DeviceInfo& info);
    static QString mcuNotUpdatableWarning();

    static QString kilobytesText(qint64 bytes);
    // One line of a plan: "MCU Firmware: Version Production 3.1, Size 8 KB".
    static QString describe(const Component& component);
};

} // namespace PelkPlus
