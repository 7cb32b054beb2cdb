#include "device/FirmwareVersion.h"

#include <QStringList>

namespace PelkPlus {

FirmwareVersion FirmwareVersion::fromWord(unsigned word)
{
    FirmwareVersion version;
    version.releaseType = int((word >> 8) & 0xFF);
    version.major = int((word >> 4) & 0xF);
    version.minor = int(word & 0xF);
    return version;
}

unsigned FirmwareVersion::toWord() const
{
    return (unsigned(releaseType) & 0xFF) << 8 | (unsigned(major) & 0xF) << 4 | (unsigned(minor) & 0xF);
}

QString FirmwareVersion::toString() const
{
    return QStringLiteral("%1.%2.%3").arg(releaseType).arg(major).arg(minor);
}

QString FirmwareVersion::displayText() const
{
    return QStringLiteral("%1 %2.%3").arg(releaseTypeText(releaseType)).arg(major).arg(minor);
}

QString releaseTypeText(int releaseType)
{
    switch (releaseType) {
    case Alpha:
        return QStringLiteral("Alpha");
    case Beta:
        return QStringLiteral("Beta");
    case PreProduction:
        return QStringLiteral("Pre-production");
    case Production:
        return QStringLiteral("Production");
    default:
        return QString();
    }
}

FirmwareVersion parseFirmwareVersion(const QString& text)
{
    FirmwareVersion version;
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() == 3) {
        // toInt() tolerates surrounding blanks and gives 0 for anything that is not a number.
        version.releaseType = parts.at(0).trimmed().toInt();
        version.major = parts.at(1).trimmed().toInt();
        version.minor = parts.at(2).trimmed().toInt();
    }
    return version;
}

QString hexVersionText(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

} // namespace PelkPlus
