// Advanced actions, the updater's own version check, About and closing.
#include "ui/MainWindow.h"

#include "app/ConfigurationManager.h"
#include "ui/DialogProvider.h"
#include "update/UpdateManager.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace PelkPlus {

namespace {

// What the name of a component file ends with: a whole file name for MCU firmware and Styles, an
// extension for the others. A file chosen for the wrong kind of component is refused before it can
// reach the device.
QString componentFileSuffix(ComponentType type)
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

} // namespace

DialogProvider* MainWindow::dialogs()
{
    if (!dialogProvider)
        dialogProvider = new DialogProvider(this);
    return dialogProvider;
}

void MainWindow::setDialogProvider(DialogProvider* provider)
{
    if (provider == dialogProvider)
        return;
    delete dialogProvider;
    dialogProvider = provider;
    if (dialogProvider)
        dialogProvider->setParent(this);
}

std::optional<ComponentType> MainWindow::platformApplicationType()
{
#if defined(Q_OS_WIN)
    return ComponentType::WindowsApplication;
#elif defined(Q_OS_MACOS)
    return ComponentType::MacApplication;
#else
    return std::nullopt;
#endif
}

void MainWindow::setAppPackageType(std::optional<ComponentType> type)
{
    appPackageType = type;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (currentComponent >= 0) {
        const QMessageBox::StandardButton answer = dialogs()->warning(this, tr("Update in Progress"),
            tr("An update is in progress. Quitting now will abort the update.\n\nAre you sure you want to "
               "quit?\n"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void MainWindow::installComponentFromFile(ComponentType type)
{
    const QString name = componentTypeName(type);
    const QString suffix = componentFileSuffix(type);
    const QString path = dialogs()->openFileName(this, QStringLiteral("Select %1").arg(name),
        QDir::homePath(), QStringLiteral("%1 (*%2)").arg(name, suffix));
    if (path.isEmpty())
        return;

    if (!path.endsWith(suffix, Qt::CaseSensitive)) {
        dialogs()->critical(this, QStringLiteral("Invalid File"),
            QStringLiteral("This file does not seem to be a valid ") + name);
        return;
    }

    Component component;
    component.type = type;
    component.localPath = path;
    component.size = QFileInfo(path).size();
    updatePlan = { component };

    qDebug() << "About to upload" << name << "from:" << path;
    emit forceInstallComponentRequest();
}

void MainWindow::editManifestUrl()
{
    ConfigurationManager* configuration = ConfigurationManager::instance();
    if (!configuration) {
        qCritical() << "MainWindow: No configuration to keep the manifest URL in.";
        return;
    }

    QString text = configuration->manifestUrl().toString();
    for (;;) {
        bool accepted = false;
        text = dialogs()->textInput(this, QStringLiteral("Set Manifest URL"),
            QStringLiteral("Please enter the URL of the update manifest file."), text, &accepted);
        if (!accepted)
            return;
        if (text.isEmpty()) {
            configuration->resetManifestUrl();
            return;
        }
        const QUrl url = QUrl::fromUserInput(text);
        if (url.isValid()) {
            configuration->setManifestUrl(url);
            return;
        }
        dialogs()->critical(this, QStringLiteral("Invalid Manifest URL"),
            QStringLiteral("The entered text is not a valid URL. Please enter a valid URL."));
    }
}

void MainWindow::evaluateAppUpdate()
{
    const bool silent = silentAppUpdateCheck;

    const QList<Component> components = updateManager->componentsFor(ManifestProduct::Updater);
    for (const Component& component : components) {
        // Only a package this platform can install is worth offering.
        if (!appPackageType || component.type != *appPackageType)
            continue;

        SemanticVersion offered;
        try {
            offered = SemanticVersion(component.version);
        } catch (const SemanticVersion::error&) {
            qCritical() << "Failed parsing app update version!";
            continue;
        }
        if (!(appVersion < offered))
            continue;

        appUpdateUrl = component.url;
        auto* box = new QMessageBox(this);
        box->setModal(true);
        box->setIcon(QMessageBox::Information);
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setText(
            QStringLiteral("New Pelk Updater version %1 is available.\n\nWould you like to quit this "
                           "application and install the new version?\n\n")
                .arg(component.version));
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Closing the box without choosing counts as No, the box's escape button.
        connect(box, &QMessageBox::finished, this, [this](int result) {
            if (result == QMessageBox::Yes)
                emit appUpdatesConfirmed();
            else
                emit appUpdatesRejected();
        });
        box->show();
        return;
    }

    if (!silent)
        showMessage(
            QMessageBox::Information, QString(), QStringLiteral("No updates available for Pelk Updater."));
    emit appUpdatesRejected();
}

void MainWindow::openAppUpdateUrl()
{
    if (!appUpdateUrl.isValid()) {
        qCritical() << "App update URL invalid.";
        return;
    }
    if (dialogs()->openUrl(appUpdateUrl))
        dialogs()->quitApplication();
    else
        qCritical() << "Failed to open app update URL:" << appUpdateUrl;
}

void MainWindow::about()
{
    const QString name = QCoreApplication::applicationName();
    dialogs()->about(this, QStringLiteral("About %1").arg(name),
        QStringLiteral("<b>%1 version %2</b>").arg(name, QLatin1String(applicationVersionText)));
}

} // namespace PelkPlus
