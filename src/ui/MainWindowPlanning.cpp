// Device selection and update planning.
#include "ui/MainWindow.h"

#include "device/DeviceAgent.h"
#include "device/DeviceMonitor.h"
#include "device/FirmwareVersion.h"
#include "ui/DeviceStatusView.h"
#include "ui/MessageBox.h"
#include "update/ManifestProduct.h"
#include "update/UpdateManager.h"

#include <QDebug>
#include <QLabel>
#include <QListWidget>

namespace PelkPlus {

namespace {

// Firmware older than this has no USB boot loader: a newer MCU image cannot reach it by cable.
const FirmwareVersion oldestUsbUpdatableMcu { Alpha, 6, 4 };

QString kilobytesText(qint64 bytes)
{
    return QString::number((bytes + 1023) / 1024);
}

QString versionText(const Component& component)
{
    switch (component.type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware:
        return parseFirmwareVersion(component.version).displayText();
    case ComponentType::Styles:
        return hexVersionText(stylesVersionFromText(component.version));
    case ComponentType::EnsembleAudio:
        return hexVersionText(ensembleAudioVersionFromText(component.version));
    default:
        return QString();
    }
}

} // namespace

void MainWindow::selectDevice()
{
    qDebug() << "Selecting device...";
    if (deviceAgent) {
        qCritical() << "Trying to select device, but device already selected.";
        emit deviceFailure();
        return;
    }

    const QList<Connection> connections = deviceMonitor->connections();
    if (connections.isEmpty()) {
        qCritical() << "Trying to select device, but none available.";
        emit deviceFailure();
        return;
    }

    // The updater works with one device at a time: the first one the monitor lists.
    const Connection connection = connections.first();
    qDebug() << "Selected device:" << connection.serialNumber << connection.path;

    deviceAgent = new DeviceAgent(connection, deviceMonitor, this);
    connect(deviceAgent, &DeviceAgent::ready, this, &MainWindow::onDeviceReady);
    connect(deviceAgent, &DeviceAgent::disconnected, this, &MainWindow::onDeviceDisconnected);
    connect(deviceAgent, &DeviceAgent::readyForUpdate, this, &MainWindow::deviceReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::notReadyForUpdate, this, &MainWindow::deviceNotReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::progress, this, &MainWindow::onInstallProgress);
    connect(deviceAgent, &DeviceAgent::done, this, &MainWindow::deviceDone);
    connect(deviceAgent, &DeviceAgent::failure, this, &MainWindow::onDeviceFailure);
    deviceAgent->start();

    emit deviceConnected();
}

void MainWindow::forgetDevice()
{
    qDebug() << "Forgetting device...";
    if (!deviceAgent)
        return;

    const Connection connection = deviceAgent->connection();
    deviceAgent->stop();
    // Joins the agent's thread, so nothing of the old connection reaches the window afterwards.
    delete deviceAgent;
    deviceAgent = nullptr;
    qDebug() << "Forgotten device:" << connection.serialNumber << connection.path;
}

// The agent keeps the record that ready carries; it is read from there when it is needed.
void MainWindow::onDeviceReady(const DeviceInfo&)
{
    qDebug() << "Device ready.";
    emit deviceReady();
}

void MainWindow::onDeviceDisconnected()
{
    emit deviceDisconnected();
}

void MainWindow::onDeviceFailure()
{
    emit deviceFailure();
}

void MainWindow::showDevice()
{
    if (!deviceAgent)
        return;
    const DeviceInfo info = deviceAgent->deviceInfo();
    deviceStatusView->setDeviceInfo(info);
    if (info.model == Base)
        plusLogo->hide();
    else
        baseLogo->hide();
}

void MainWindow::resetUpdatePlan()
{
    lastChecked = QDateTime();
    warnings.clear();
    updatePlan.clear();
    currentComponent = -1;
}

void MainWindow::startUpdateCheck()
{
    resetUpdatePlan();
    refreshUpdateList();
    // A check that is already under way (the start-up updater check) delivers the result.
    updateManager->checkForUpdates();
}

void MainWindow::planUpdate(bool forceAll)
{
    resetUpdatePlan();
    lastChecked = updateManager->manifestTime();

    const DeviceInfo info = deviceAgent ? deviceAgent->deviceInfo() : DeviceInfo();
    const ManifestProduct product = info.model == Base ? ManifestProduct::Base : ManifestProduct::Plus;
    const QList<Component> components = updateManager->componentsFor(product);

    // Manifest order is install order: nothing is sorted, and each component is compared alone.
    for (const Component& component : components) {
        if (forceAll) {
            updatePlan.append(component);
            continue;
        }

        switch (component.type) {
        case ComponentType::McuFirmware: {
            const FirmwareVersion version = parseFirmwareVersion(component.version);
            qDebug() << "Found MCU:" << version.toString() << component.version;
            if (!(info.mcuVersion < version))
                break;
            if (info.mcuVersion < oldestUsbUpdatableMcu) {
                const QString warning = QStringLiteral(
                    "An MCU update is available but your current MCU firmware cannot be updated by USB. "
                    "It must be programmed directly into the MCU.");
                warnings.append(warning);
                qCritical().noquote() << warning;
                break;
            }
            updatePlan.append(component);
            qDebug() << "New MCU";
            break;
        }
        case ComponentType::DspFirmware: {
            const FirmwareVersion version = parseFirmwareVersion(component.version);
            qDebug() << "Found DSP:" << version.toString() << component.version;
            if (info.dspVersion < version) {
                updatePlan.append(component);
                qDebug() << "New DSP.";
            }
            break;
        }
        case ComponentType::Styles: {
            // Data versions are only told apart: whatever the manifest offers replaces the device's.
            const quint16 version = stylesVersionFromText(component.version);
            qDebug() << "Found Styles:" << hexVersionText(version) << component.version;
            if (version != info.stylesVersion) {
                updatePlan.append(component);
                qDebug() << "New Styles.";
            }
            break;
        }
        case ComponentType::EnsembleAudio: {
            const quint32 version = ensembleAudioVersionFromText(component.version);
            qDebug() << "Found Ensemble Audio:" << hexVersionText(version) << component.version;
            if (version != info.ensembleVersion) {
                updatePlan.append(component);
                qDebug() << "New Ensemble.";
            }
            break;
        }
        default:
            qCritical() << "Device update: Unexpected component type";
            break;
        }
    }

    if (updatePlan.isEmpty())
        emit noUpdatesAvailable();
    else
        emit updatesAvailable();
}

void MainWindow::refreshUpdateList()
{
    componentList->clear();

    if (warnings.isEmpty()) {
        warningsBox->clear();
    } else {
        QString text = QStringLiteral("WARNING:");
        for (const QString& warning : qAsConst(warnings))
            text += QLatin1Char('\n') + warning;
        warningsBox->showWarning(text);
    }

    if (!updatePlan.isEmpty()) {
        updatesHeading->showInformation(
            QStringLiteral("The following components can be updated (last checked on %1):")
                .arg(lastChecked.toString()));
    } else if (lastChecked.isValid()) {
        updatesHeading->showInformation(
            QStringLiteral("No updates available (last checked on %1).").arg(lastChecked.toString()));
    } else {
        updatesHeading->clear();
    }

    for (const Component& component : qAsConst(updatePlan)) {
        auto* item = new QListWidgetItem(QStringLiteral("%1: Version %2, Size %3 KB")
                                             .arg(componentTypeName(component.type), versionText(component),
                                                 kilobytesText(component.size)),
            componentList);
        // Shown for information only: the plan is installed whole, in this order.
        item->setFlags(Qt::ItemIsEnabled);
    }
}

} // namespace PelkPlus
