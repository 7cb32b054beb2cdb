#include "workflow/ComponentFileName.h"

namespace PelkPlus {

QString ComponentFileName::expectedEnding(ComponentType type)
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

bool ComponentFileName::fits(ComponentType type, const QString& path)
{
    const QString ending = expectedEnding(type);
    return !ending.isEmpty() && path.endsWith(ending, Qt::CaseSensitive);
}

QString ComponentFileName::refusalText(ComponentType type)
{
    return QStringLiteral("This file does not seem to be a valid %1 file: its name must end in \"%2\".")
        .arg(componentTypeName(type), expectedEnding(type));
}

} // namespace PelkPlus
