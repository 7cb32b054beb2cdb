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
    if (parts.size() != 3)
        return version;
    // toInt() tolerates surrounding blanks and gives 0 for anything that is not a number.
    const int releaseType = parts.at(0).trimmed().toInt();
    const int major = parts.at(1).trimmed().toInt();
    const int minor = parts.at(2).trimmed().toInt();
    // The device keeps the release type in a byte and major and minor in four bits each: 3.16.0
    // would compare as newer than 3.15.0 and be installed as 3.0.0.
    if (releaseType < 0 || releaseType > 0xFF || major < 0 || major > 0xF || minor < 0 || minor > 0xF)
        return version;
    version.releaseType = releaseType;
    version.major = major;
    version.minor = minor;
    return version;
}

QString hexVersionText(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

} // namespace PelkPlus
