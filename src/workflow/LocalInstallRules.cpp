#include "workflow/LocalInstallRules.h"

#include "workflow/UpdatePlanner.h"

#include <QDebug>

namespace PelkPlus {

QString LocalInstallRules::fileSuffix(ComponentType type)
{
    switch (type) {
    case ComponentType::McuFirmware:
        return QStringLiteral("Update.bin");
    case ComponentType::DspFirmware:
        return QStringLiteral(".ldr");
    case ComponentType::Styles:
        return QStringLiteral("StyleData.bin");
    case ComponentType::EnsembleAudio:
        return QStringLiteral(".flac");
    default:
        return QString();
    }
}

QString LocalInstallRules::fileFilter(ComponentType type)
{
    return QStringLiteral("%1 (*%2)").arg(componentTypeName(type), fileSuffix(type));
}

std::optional<LocalInstallRefusal> LocalInstallRules::refusal(
    ComponentType type, const QString& path, qint64 size, const DeviceInfo* device)
{
    if (!path.endsWith(fileSuffix(type), Qt::CaseSensitive))
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
