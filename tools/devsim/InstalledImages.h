#pragma once

#include "SimulatedDeviceSettings.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace PelkPlus {

// The memory of a simulated device: the image of each component (numbered as SimulatedDevice
// numbers them) as it last arrived whole, the checksum it came with, and the version the device
// reports for it afterwards, which an image names with its marker.
class InstalledImages
{
public:
    // Keeps image as the component's and, unless the settings keep the old version, makes the
    // version its marker names the one the device reports. Returns that version's text, empty
    // when the version stays as it was.
    QString install(
        int component, const QByteArray& image, quint8 checksum, SimulatedDeviceSettings& settings);

    QByteArray image(int component) const { return images.at(size_t(component)); }
    // True when the installed image is exactly image followed by nothing but the zero fill of its
    // last packet or sector.
    bool holds(int component, const QByteArray& image) const;
    quint8 checksum(int component) const { return checksums.at(size_t(component)); }
    int count() const { return installs; }

    // Makes the version the image's marker names the one the device reports for the component, as
    // install does, without keeping the image; the version's text once it changed, else empty.
    static QString storeMarkedVersion(
        int component, const QByteArray& image, SimulatedDeviceSettings& settings);

    // "PELKVER=<version>;" anywhere in an image names the version that the image installs.
    static QByteArray versionMarker(const QString& version);

private:
    std::array<QByteArray, 4> images;
    std::array<quint8, 4> checksums {};
    int installs = 0;
};

} // namespace PelkPlus
