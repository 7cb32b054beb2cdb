#include "InstalledImages.h"

#include "SimulatedDevice.h"

#include "device/FirmwareVersion.h"

namespace PelkPlus {

namespace {
constexpr char markerPrefix[] = "PELKVER=";
constexpr int prefixSize = int(sizeof(markerPrefix)) - 1;
// A marker names a version of at most this many characters; a longer text after the prefix is none.
constexpr int longestVersion = 16;
// The version the marker in image names, made the component's in settings; its text, or empty when
// the image names none.
QString applyMarkedVersion(
    int component, const QByteArray& image, SimulatedDeviceSettings& settings, int from = 0)
{
    // The marker is searched in the raw bytes: an image is binary and may hold zero bytes anywhere.
    const int at = image.indexOf(markerPrefix, from);
    const int end = at >= 0 ? image.indexOf(';', at + prefixSize) : -1;
    if (end <= at || end - at - prefixSize > longestVersion)
        return QString();
    const QString versionText = QString::fromLatin1(image.mid(at + prefixSize, end - at - prefixSize));
    bool ok = false;
    switch (component) {
    case SimulatedDevice::Mcu:
        settings.mcuWord = parseFirmwareVersion(versionText).toWord();
        break;
    case SimulatedDevice::Dsp:
        settings.dspWord = parseFirmwareVersion(versionText).toWord();
        break;
    case SimulatedDevice::Styles:
        settings.stylesVersion = quint16(versionText.toUInt(&ok, 0));
        break;
    default:
        settings.ensembleVersion = versionText.toUInt(&ok, 0);
        break;
    }
    return versionText;
}

} // namespace

QString InstalledImages::install(
    int component, const QByteArray& image, quint8 checksum, SimulatedDeviceSettings& settings)
{
    images[size_t(component)] = image;
    checksums[size_t(component)] = checksum;
    ++installs;
    return settings.keepVersionAfterInstall ? QString() : applyMarkedVersion(component, image, settings);
}

QString InstalledImages::storeMarkedVersion(
    int component, const QByteArray& image, SimulatedDeviceSettings& settings)
{
    const quint16 styles = settings.stylesVersion;
    const quint32 ensemble = settings.ensembleVersion;
    // Called after every packet of a transfer: only the bytes a marker ending in the last packet
    // can have are looked at.
    const int from = qMax(0, image.size() - 2 * (prefixSize + longestVersion + 1) - 64);
    const QString version = applyMarkedVersion(component, image, settings, from);
    return styles == settings.stylesVersion && ensemble == settings.ensembleVersion ? QString() : version;
}

bool InstalledImages::holds(int component, const QByteArray& image) const
{
    const QByteArray& installed = images.at(size_t(component));
    return installed.size() >= image.size() && installed.startsWith(image)
        && installed.mid(image.size()) == QByteArray(installed.size() - image.size(), '\0');
}

QByteArray InstalledImages::versionMarker(const QString& version)
{
    return QByteArray(markerPrefix) + version.toLatin1() + ';';
}

} // namespace PelkPlus
