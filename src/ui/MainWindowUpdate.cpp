// Carrying out an update, one component after the other.
#include "ui/MainWindow.h"

#include "app/ApplicationPaths.h"
#include "app/SleepPreventer.h"
#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "ui/MessageBox.h"
#include "update/DownloadAgent.h"
#include "update/DownloadRequest.h"

#include <QDebug>
#include <QLabel>
#include <QProgressBar>

namespace PelkPlus {

namespace {

// How long a device may take to drop off the bus after it confirmed an install before the user is
// asked to power-cycle it. The Pelk+ has more to write to its flash before it restarts.
constexpr int baseRebootTimeout = 15000;
constexpr int plusRebootTimeout = 20000;

qint64 kilobytesRoundedUp(qint64 bytes)
{
    return (bytes + 1023) / 1024;
}

// A fraction of a transfer as a bar's percentage; a transfer is not shown as complete before it is.
int percentOf(float fraction)
{
    return int(fraction * 100);
}

} // namespace

void MainWindow::setSleepPreventer(SleepPreventer* preventer)
{
    if (preventer == sleepPreventer)
        return;
    delete sleepPreventer;
    sleepPreventer = preventer;
}

void MainWindow::enableSleepPrevention()
{
    sleepPreventer->setPreventSleep(true);
    if (sleepPreventer->isPreventingSleep())
        qDebug() << "System sleep disabled.";
    else
        qCritical() << "Could not disable system sleep.";
}

void MainWindow::disableSleepPrevention()
{
    sleepPreventer->setPreventSleep(false);
    if (sleepPreventer->isPreventingSleep())
        qCritical() << "Could not re-enable system sleep.";
    else
        qDebug() << "System sleep re-enabled.";
}

Component* MainWindow::currentPlanEntry()
{
    if (currentComponent < 0 || currentComponent >= updatePlan.size())
        return nullptr;
    return &updatePlan[currentComponent];
}

void MainWindow::beginUpdate()
{
    currentComponent = -1;
}

void MainWindow::selectNextComponent()
{
    ++currentComponent;
    if (unsigned(currentComponent) >= unsigned(updatePlan.size())) {
        updatePlan.clear();
        warnings.clear();
        currentComponent = -1;
        emit updateFinished();
        return;
    }

    const Component& component = updatePlan.at(currentComponent);
    componentLabel->setText(QStringLiteral("Updating %1 (Component %2/%3)")
                                .arg(componentTypeName(component.type))
                                .arg(currentComponent + 1)
                                .arg(updatePlan.size()));
    downloadProgress->setValue(0);
    installProgress->setValue(0);
    QString downloadText = QStringLiteral("Downloading");
    if (component.size > 0)
        downloadText += QStringLiteral(" (%1 KB)").arg(kilobytesRoundedUp(component.size));
    downloadLabel->setText(downloadText);
    installLabel->setText(QStringLiteral("Installing"));
    emit componentSelected();
}

void MainWindow::downloadComponent()
{
    Component* component = currentPlanEntry();
    if (!component)
        return;

    // A file chosen on this computer is sent as it is.
    if (!component->localPath.isEmpty()) {
        downloadProgress->setValue(100);
        emit componentDownloadSkipped();
        return;
    }

    if (!ApplicationPaths::ensureDownloadDirectory()) {
        qCritical() << "MainWindow: Failed to create download directory.";
        emit downloadFailure();
        return;
    }
    component->localPath
        = ApplicationPaths::downloadDirectory() + QLatin1Char('/') + componentTypeName(component->type);
    // The size the HEAD request announced is enforced, so a truncated file never reaches the device.
    downloadAgent->download(DownloadRequest::forComponent(*component));
}

void MainWindow::onDownloadProgress(int request, float fraction)
{
    Q_UNUSED(request)
    downloadProgress->setValue(percentOf(fraction));
}

void MainWindow::awaitUpdateMode()
{
    qDebug() << "Checking whether device ready for update...";
    statusMessage->showWarning(QStringLiteral("Waiting for the device to enter update mode...\n\nPlease DO "
                                              "NOT disconnect or power down the device!"));
    if (deviceAgent)
        deviceAgent->checkReadyForUpdate();
}

void MainWindow::onDownloadFinished()
{
    const Component* component = currentPlanEntry();
    if (!component)
        return;

    int fileType = -1;
    switch (component->type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware:
    case ComponentType::Styles:
    case ComponentType::EnsembleAudio:
        // The device's file types carry the numbers of the component types.
        fileType = int(component->type);
        break;
    default:
        qCritical() << "MainWindow::onDownloadFinished: Unexpected component type.";
        emit installFailure();
        return;
    }

    qDebug() << "Sending file type" << fileType << "at" << component->localPath;
    if (deviceAgent)
        deviceAgent->sendFile(fileType, component->localPath);
}

void MainWindow::onInstallProgress(float fraction, long total)
{
    installProgress->setValue(percentOf(fraction));
    if (total > 0)
        installLabel->setText(QStringLiteral("Installing (%1 KB)").arg(kilobytesRoundedUp(total)));
}

void MainWindow::startRebootTimer()
{
    const bool base = deviceAgent && deviceAgent->connection().model == Base;
    rebootTimer.start(base ? baseRebootTimeout : plusRebootTimeout);
}

void MainWindow::requestPowerCycle()
{
    statusMessage->showWarning(QStringLiteral("Please power-cycle the device now."));
}

} // namespace PelkPlus
