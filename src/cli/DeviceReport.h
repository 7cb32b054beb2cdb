#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "update/Component.h"

#include <QJsonObject>
#include <QString>

namespace PelkPlus {

// A device and the components of a plan as the command line writes them: JSON objects whose
// versions read as the device's header gives them ("3.1.2", "0x12"), and lines for a person.
class DeviceReport
{
public:
    // model, serial and path come from the connection, the four versions from the header; a device
    // whose header could not be read has no versions.
    static QJsonObject deviceObject(const Connection& connection, const DeviceInfo* info);
    static QJsonObject componentObject(const Component& component);

    // "Pelk+ PK000001 (sim/pelk-1)"
    static QString connectionText(const Connection& connection);
    // The device as devices lists it: the header's versions as deviceObject() gives them (none for
    // a component its model does not have), and beside them, under "displayed", as a person reads
    // them (VersionText::ofDevice).
    static QJsonObject listedObject(const Connection& connection, const DeviceInfo* info);
    // connectionText(), then versionLines(), as check shows the device.
    static QString deviceLines(const Connection& connection, const DeviceInfo* info);
    // Another updater has the device open: which, as far as the system tells.
    static QString busyText(const Connection& connection);
    // One line per component, as the device panel shows them.
    static QString versionLines(const DeviceInfo& info);
    // The manifest's version written as the header would carry it.
    static QString componentVersion(const Component& component);
};

} // namespace PelkPlus
