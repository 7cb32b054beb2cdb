// The workflow's parts, device selection and update planning.
#include "workflow/UpdateWorkflow.h"

#include "app/SleepPreventer.h"
#include "device/DeviceAgent.h"
#include "device/DeviceMonitor.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManager.h"
#include "workflow/WorkflowQuestions.h"

#include <QAbstractState>
#include <QDebug>
#include <QState>

namespace PelkPlus {

UpdateWorkflow::UpdateWorkflow(QObject* parent)
    : WorkflowNotifier(parent)
{
    appVersion = applicationVersion();

    deviceMonitor = new DeviceMonitor(this);
    updateManager = new UpdateManager(this);
    downloadAgent = new DownloadAgent(this);

    connect(downloadAgent, &DownloadAgent::progress, this, &UpdateWorkflow::onDownloadProgress);
    connect(downloadAgent, &DownloadAgent::failed, this, &UpdateWorkflow::downloadFailure);
    connect(deviceMonitor, &DeviceMonitor::scanned, this, &WorkflowNotifier::devicesScanned);

    rebootTimer.setSingleShot(true);
    connect(&rebootTimer, &QTimer::timeout, this, &UpdateWorkflow::deviceReadyToReboot);

    createStateMachine();

    sleepPreventer = SleepPreventer::createForPlatform();
}

UpdateWorkflow::~UpdateWorkflow()
{
    // Withdraws a request to stay awake that an update left behind.
    delete sleepPreventer;
}

void UpdateWorkflow::start()
{
    // A face's regions follow the device region and come before the workflow's own, so that they
    // show a device before the workflow acts on it.
    for (QState* region : qAsConst(m_ownRegions)) {
        region->setParent(nullptr);
        region->setParent(m_regions);
    }

    // The machine's first step runs once the event loop does.
    stateMachine.start();
    deviceMonitor->start();

    // The check for a newer updater that runs at start-up reports nothing unless it finds one.
    silentAppUpdateCheck = true;
}

QState* UpdateWorkflow::state(const char* name) const
{
    return stateMachine.findChild<QState*>(QLatin1String(name));
}

void UpdateWorkflow::setQuestions(WorkflowQuestions* asked)
{
    questions = asked;
}

void UpdateWorkflow::setSleepPreventer(SleepPreventer* preventer)
{
    if (preventer == sleepPreventer)
        return;
    delete sleepPreventer;
    sleepPreventer = preventer;
}

std::optional<ComponentType> UpdateWorkflow::platformApplicationType()
{
#if defined(Q_OS_WIN)
    return ComponentType::WindowsApplication;
#elif defined(Q_OS_MACOS)
    return ComponentType::MacApplication;
#else
    return std::nullopt;
#endif
}

void UpdateWorkflow::setAppPackageType(std::optional<ComponentType> type)
{
    appPackageType = type;
}

DeviceInfo UpdateWorkflow::deviceInfo() const
{
    return deviceAgent ? deviceAgent->deviceInfo() : DeviceInfo();
}

void UpdateWorkflow::showMessage(MessageKind kind, const QString& title, const QString& text)
{
    emit messageRequested(kind, title, text);
}

void UpdateWorkflow::checkForUpdates()
{
    emit checkUpdatesRequest();
}

void UpdateWorkflow::startUpdate()
{
    emit updateStartRequested();
}

void UpdateWorkflow::listAllComponents()
{
    emit forceInstallAllComponentsRequest();
}

void UpdateWorkflow::checkAppUpdates()
{
    emit checkAppUpdatesRequest();
}

void UpdateWorkflow::answerAppUpdate(bool accepted)
{
    if (accepted)
        emit appUpdatesConfirmed();
    else
        emit appUpdatesRejected();
}

void UpdateWorkflow::selectDevice()
{
    qDebug() << "Selecting device...";
    if (deviceAgent) {
        qCritical() << "Trying to select device, but device already selected.";
        emit deviceFailure();
        return;
    }

    const QList<Connection> connections = selectableConnections();
    if (connections.isEmpty()) {
        qCritical() << "Trying to select device, but none available.";
        emit deviceFailure();
        return;
    }

    // The updater works with one device at a time: the first one the monitor lists.
    const Connection connection = connections.first();
    qDebug() << "Selected device:" << connection.serialNumber << connection.path;

    deviceAgent = new DeviceAgent(connection, deviceMonitor, this);
    connect(deviceAgent, &DeviceAgent::ready, this, &UpdateWorkflow::onDeviceReady);
    connect(deviceAgent, &DeviceAgent::disconnected, this, &UpdateWorkflow::onDeviceDisconnected);
    connect(deviceAgent, &DeviceAgent::readyForUpdate, this, &UpdateWorkflow::deviceReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::notReadyForUpdate, this, &UpdateWorkflow::deviceNotReadyForUpdate);
    connect(deviceAgent, &DeviceAgent::progress, this, &UpdateWorkflow::onInstallProgress);
    connect(deviceAgent, &DeviceAgent::done, this, &UpdateWorkflow::deviceDone);
    connect(deviceAgent, &DeviceAgent::failure, this, &UpdateWorkflow::onDeviceFailure);
    deviceAgent->start();

    emit deviceConnected();
}

void UpdateWorkflow::forgetDevice()
{
    qDebug() << "Forgetting device...";
    if (!deviceAgent)
        return;

    const Connection connection = deviceAgent->connection();
    deviceAgent->stop();
    // Joins the agent's thread, so nothing of the old connection reaches the workflow afterwards.
    delete deviceAgent;
    deviceAgent = nullptr;
    qDebug() << "Forgotten device:" << connection.serialNumber << connection.path;
}

// The agent keeps the record that ready carries; it is read from there when it is needed.
void UpdateWorkflow::onDeviceReady(const DeviceInfo&)
{
    qDebug() << "Device ready.";
    emit deviceReady();
}

void UpdateWorkflow::onDeviceDisconnected()
{
    emit deviceDisconnected();
}

void UpdateWorkflow::onDeviceFailure()
{
    emit deviceFailure();
}

void UpdateWorkflow::resetUpdatePlan()
{
    lastCheckTime = QDateTime();
    warnings.clear();
    updatePlan.clear();
    currentComponent = -1;
}

void UpdateWorkflow::startUpdateCheck()
{
    resetUpdatePlan();
    emit planChanged();
    // A check that is already under way (the start-up updater check) delivers the result.
    updateManager->checkForUpdates();
}

void UpdateWorkflow::planUpdate(bool forceAll)
{
    resetUpdatePlan();
    lastCheckTime = updateManager->manifestTime();

    const DeviceInfo info = deviceInfo();
    const UpdatePlan plan
        = UpdatePlanner::plan(info, updateManager->componentsFor(UpdatePlanner::productFor(info)), forceAll);
    updatePlan = plan.components;
    warnings = plan.warnings;

    if (updatePlan.isEmpty())
        emit noUpdatesAvailable();
    else
        emit updatesAvailable();
}

} // namespace PelkPlus
