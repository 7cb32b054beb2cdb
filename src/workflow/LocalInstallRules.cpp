#include "workflow/LocalInstallRules.h"

#include "device/DeviceModel.h"
#include "workflow/ComponentFileName.h"
#include "workflow/UpdatePlanner.h"

#include <QDebug>

#include <utility>

namespace PelkPlus {

QString LocalInstallRules::fileFilter(ComponentType type)
{
    return QStringLiteral("%1 (*%2)").arg(componentTypeName(type), ComponentFileName::expectedEnding(type));
}

std::optional<LocalInstallRefusal> LocalInstallRules::refusal(
    ComponentType type, const QString& path, qint64 size, const DeviceInfo* device)
{
    if (!path.endsWith(ComponentFileName::expectedEnding(type), Qt::CaseSensitive))
        return LocalInstallRefusal { QStringLiteral("Invalid File"),
            QStringLiteral("This file does not seem to be a valid ") + componentTypeName(type) };
    if (size <= 0) {
        qCritical() << "Empty component file refused:" << path;
        return LocalInstallRefusal { QStringLiteral("Invalid File"),
            QStringLiteral("This file is empty: ") + path };
    }
    // Bounded as a download of the type is: the file is read whole before it is sent.
    if (size > largestComponentSize(type)) {
        qCritical() << "Component file too large refused:" << path << size;
        return LocalInstallRefusal { QStringLiteral("Invalid File"),
            QStringLiteral("This file is too large to be %1: %2 bytes, more than the %3 bytes such a "
                           "file can be.")
                .arg(componentTypeName(type))
                .arg(size)
                .arg(largestComponentSize(type)) };
    }
    if (type == ComponentType::McuFirmware && device && !UpdatePlanner::canUpdateMcuByUsb(*device)) {
        qCritical().noquote() << UpdatePlanner::mcuNotUpdatableWarning();
        return LocalInstallRefusal { QStringLiteral("Update Not Possible"),
            UpdatePlanner::mcuNotUpdatableWarning() };
    }
    return std::nullopt;
}

std::optional<LocalInstallRefusal> LocalInstallRules::catalogueRefusal(
    ComponentType type, const QByteArray& sha256, const ManifestData& catalogue, const DeviceInfo* device)
{
    if (sha256.isEmpty())
        return std::nullopt;
    std::optional<std::pair<int, Component>> other;
    for (const ManifestProduct product : { ManifestProduct::Base, ManifestProduct::Plus }) {
        const int model = int(product);
        for (const Component& entry : catalogue.value(product)) {
            if (entry.sha256 != sha256)
                continue;
            if (entry.type == type && (!device || device->model == model))
                return std::nullopt;
            if (!other)
                other = std::make_pair(model, entry);
        }
    }
    if (!other)
        return std::nullopt;
    const Component& entry = other->second;
    const QString what
        = QStringLiteral("This file is the %1 %2 of the %3")
              .arg(componentTypeName(entry.type), entry.version, QLatin1String(modelName(other->first)));
    const QString text = entry.type == type
        ? QStringLiteral("%1, not of the %2.").arg(what, QLatin1String(modelName(device->model)))
        : QStringLiteral("%1, not %2.").arg(what, componentTypeName(type));
    qCritical().noquote() << "Local file refused:" << text;
    return LocalInstallRefusal { QStringLiteral("Invalid File"), text };
}

} // namespace PelkPlus
