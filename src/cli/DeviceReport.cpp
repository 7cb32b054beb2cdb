#include "cli/DeviceReport.h"

#include "device/DeviceLock.h"
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "workflow/VersionText.h"

namespace PelkPlus {

namespace {

QString modelKey(int model)
{
    return model == Base ? QStringLiteral("base") : QStringLiteral("plus");
}

constexpr ComponentType deviceTypes[] = { ComponentType::McuFirmware, ComponentType::DspFirmware,
    ComponentType::Styles, ComponentType::EnsembleAudio };

// The member of a device's object that holds a component's version.
const char* jsonKey(ComponentType type)
{
    switch (type) {
    case ComponentType::McuFirmware:
        return "mcu";
    case ComponentType::DspFirmware:
        return "dsp";
    case ComponentType::Styles:
        return "styles";
    case ComponentType::EnsembleAudio:
        return "ensemble";
    default:
        return "";
    }
}

} // namespace

QJsonObject DeviceReport::deviceObject(const Connection& connection, const DeviceInfo* info)
{
    QJsonObject device {
        { QStringLiteral("model"), modelKey(connection.model) },
        { QStringLiteral("serial"), connection.serialNumber },
        { QStringLiteral("path"), connection.path },
    };
    if (info) {
        device.insert(QLatin1String(jsonKey(ComponentType::McuFirmware)), info->mcuVersion.toString());
        device.insert(QLatin1String(jsonKey(ComponentType::DspFirmware)), info->dspVersion.toString());
        device.insert(QLatin1String(jsonKey(ComponentType::Styles)), hexVersionText(info->stylesVersion));
        device.insert(
            QLatin1String(jsonKey(ComponentType::EnsembleAudio)), hexVersionText(info->ensembleVersion));
    } else {
        device.insert(QStringLiteral("error"), QStringLiteral("The device's versions could not be read."));
    }
    return device;
}

QString DeviceReport::componentVersion(const Component& component)
{
    switch (component.type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware:
        return parseFirmwareVersion(component.version).toString();
    default: {
        bool ok = false;
        const quint32 value = component.version.trimmed().toUInt(&ok, 0);
        return ok ? hexVersionText(value) : component.version;
    }
    }
}

QJsonObject DeviceReport::componentObject(const Component& component)
{
    return QJsonObject {
        { QStringLiteral("component"), componentTypeName(component.type) },
        { QStringLiteral("version"), componentVersion(component) },
        { QStringLiteral("size"), double(component.size) },
    };
}

QString DeviceReport::connectionText(const Connection& connection)
{
    return QStringLiteral("%1 %2 (%3)")
        .arg(QLatin1String(modelName(connection.model)), connection.serialNumber, connection.path);
}

QString DeviceReport::busyText(const Connection& connection)
{
    const QString holder = QString::fromStdString(DeviceLock::lastHolder());
    return QStringLiteral("%1 is being used by another updater%2. Wait until it has finished, or close it.")
        .arg(connectionText(connection), holder.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holder));
}

QString DeviceReport::deviceLines(const Connection& connection, const DeviceInfo* info)
{
    const QString line = connectionText(connection);
    if (!info)
        return line + QStringLiteral(": versions could not be read");
    return line + QStringLiteral(":\n") + versionLines(*info);
}

QJsonObject DeviceReport::listedObject(const Connection& connection, const DeviceInfo* info)
{
    QJsonObject device = deviceObject(connection, info);
    if (!info)
        return device;
    QJsonObject displayed;
    for (ComponentType type : deviceTypes) {
        const QString version = VersionText::ofDevice(*info, type);
        // A Pelk has no Styles: the header's field for them holds no version.
        if (version.isEmpty())
            device.remove(QLatin1String(jsonKey(type)));
        else
            displayed.insert(QLatin1String(jsonKey(type)), version);
    }
    device.insert(QStringLiteral("displayed"), displayed);
    return device;
}

QString DeviceReport::versionLines(const DeviceInfo& info)
{
    QStringList lines;
    for (ComponentType type : deviceTypes) {
        // A Pelk has no Styles.
        const QString version = VersionText::ofDevice(info, type);
        if (!version.isEmpty())
            lines.append(QStringLiteral("  %1 %2").arg(
                (componentTypeName(type) + QLatin1Char(':')).leftJustified(16), version));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace PelkPlus
