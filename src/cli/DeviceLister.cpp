#include "cli/DeviceLister.h"

#include "cli/CliOutput.h"
#include "cli/DeviceReport.h"
#include "workflow/DeviceAccessHint.h"
#include "workflow/DeviceListing.h"

#include <QJsonArray>
#include <QJsonObject>

namespace PelkPlus {

DeviceLister::DeviceLister(const QString& serial, CliOutput* output, QObject* parent)
    : QObject(parent)
    , wantedSerial(serial)
    , cliOutput(output)
    , listing(new DeviceListing(this))
{
    listing->setPreferredSerial(serial);
    connect(listing, &DeviceListing::finished, this, &DeviceLister::report);
}

DeviceLister::~DeviceLister() = default;

void DeviceLister::start()
{
    listing->start();
}

void DeviceLister::report()
{
    const QList<DiagnosticsDevice> found = listing->devices();
    if (!wantedSerial.isEmpty() && found.isEmpty()) {
        cliOutput->error(QStringLiteral("No device with serial number %1 is connected.").arg(wantedSerial),
            QStringLiteral("no-device"));
        emit finished(2);
        return;
    }

    QJsonArray devices;
    int unread = 0;
    for (const DiagnosticsDevice& device : found) {
        const DeviceInfo* info = device.info ? &*device.info : nullptr;
        unread += info ? 0 : 1;
        devices.append(DeviceReport::listedObject(device.connection, info));
        cliOutput->result(DeviceReport::deviceLines(device.connection, info));
    }
    if (found.isEmpty())
        cliOutput->info(QStringLiteral("No device connected."));
    const QStringList accessDenied = listing->accessDenied();
    for (const QString& path : accessDenied)
        cliOutput->error(DeviceAccessHint::text(path), QStringLiteral("device-access"));
    const QList<Connection> busy = listing->busy();
    for (const Connection& connection : busy)
        cliOutput->error(DeviceReport::busyText(connection), QStringLiteral("busy"));
    cliOutput->object(QJsonObject { { QStringLiteral("devices"), devices } });
    emit finished(!accessDenied.isEmpty() ? 2 : !busy.isEmpty() ? 3 : unread > 0 ? 1 : 0);
}

} // namespace PelkPlus
