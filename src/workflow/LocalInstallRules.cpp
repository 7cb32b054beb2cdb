#include "workflow/LocalInstallRules.h"

#include "workflow/ComponentFileName.h"
#include "workflow/UpdatePlanner.h"

#include <QDebug>

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
    if (type == ComponentType::McuFirmware && device && !UpdatePlanner::canUpdateMcuByUsb(*device)) {
        qCritical().noquote() << UpdatePlanner::mcuNotUpdatableWarning();
        return LocalInstallRefusal { QStringLiteral("Update Not Possible"),
            UpdatePlanner::mcuNotUpdatableWarning() };
    }
    return std::nullopt;
}

} // namespace PelkPlus
