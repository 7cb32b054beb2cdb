// Installing a chosen file, the manifest's URL and the updater's own version check.
#include "workflow/UpdateWorkflow.h"

#include "app/ConfigurationManager.h"
#include "device/DeviceAgent.h"
#include "device/DeviceModel.h"
#include "workflow/PowerCheck.h"
#include "update/UpdateManager.h"
#include "workflow/WorkflowQuestions.h"

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

void UpdateWorkflow::installComponentFromFile(ComponentType type)
{
    if (!questions)
        return;
    const QString name = componentTypeName(type);
    const QString path = questions->openFileName(QStringLiteral("Select %1").arg(name), QDir::homePath(),
        QStringLiteral("%1 (*%2)").arg(name, componentFileSuffix(type)));
    if (path.isEmpty())
        return;
    installFile(type, path);
}

bool UpdateWorkflow::installFile(ComponentType type, const QString& path)
{
    const QString name = componentTypeName(type);
    if (!path.endsWith(componentFileSuffix(type), Qt::CaseSensitive)) {
        if (questions) {
            questions->critical(QStringLiteral("Invalid File"),
                QStringLiteral("This file does not seem to be a valid ") + name);
        }
        return false;
    }
    // Nothing a device could take: refused before the plan is touched.
    const qint64 size = QFileInfo(path).size();
    if (size <= 0) {
        qCritical() << "Empty component file refused:" << path;
        if (questions)
            questions->critical(
                QStringLiteral("Invalid File"), QStringLiteral("This file is empty: ") + path);
        return false;
    }
    if (type == ComponentType::McuFirmware && hasDevice()
        && !UpdatePlanner::canUpdateMcuByUsb(deviceInfo())) {
        qCritical().noquote() << UpdatePlanner::mcuNotUpdatableWarning();
        if (questions)
            questions->critical(
                QStringLiteral("Update Not Possible"), UpdatePlanner::mcuNotUpdatableWarning());
        return false;
    }

    Component component;
    component.type = type;
    component.localPath = path;
    component.size = size;
    const int model = deviceAgent ? deviceAgent->connection().model : Plus;
    if (!powerCheck->allows(UpdateEstimate::forPlan({ component }, model), questions))
        return false;
    updatePlan = { component };

    qDebug() << "About to upload" << name << "from:" << path;
    emit forceInstallComponentRequest();
    return true;
}

void UpdateWorkflow::editManifestUrl()
{
    ConfigurationManager* configuration = ConfigurationManager::instance();
    if (!configuration) {
        qCritical() << "MainWindow: No configuration to keep the manifest URL in.";
        return;
    }
    if (!questions)
        return;

    QString text = configuration->manifestUrl().toString();
    for (;;) {
        bool accepted = false;
        text = questions->textInput(QStringLiteral("Set Manifest URL"),
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
        questions->critical(QStringLiteral("Invalid Manifest URL"),
            QStringLiteral("The entered text is not a valid URL. Please enter a valid URL."));
    }
}

void UpdateWorkflow::evaluateAppUpdate()
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
        emit appUpdateOffered(component.version);
        return;
    }

    if (!silent)
        showMessage(
            MessageKind::Information, QString(), QStringLiteral("No updates available for Pelk Updater."));
    emit appUpdatesRejected();
}

void UpdateWorkflow::openAppUpdateUrl()
{
    if (!appUpdateUrl.isValid()) {
        qCritical() << "App update URL invalid.";
        return;
    }
    if (questions && questions->openUrl(appUpdateUrl))
        questions->quitApplication();
    else
        qCritical() << "Failed to open app update URL:" << appUpdateUrl.adjusted(QUrl::RemoveUserInfo);
}

} // namespace PelkPlus
