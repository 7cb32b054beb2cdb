#include "device/DeviceAgent.h"

#include "device/DeviceAgentWorker.h"
#include "device/DeviceMonitor.h"
#include "device/InterruptsBlocked.h"
#include "device/SendFileEvent.h"

#include <QCoreApplication>

namespace PelkPlus {

DeviceAgent::DeviceAgent(const Connection& connection, DeviceMonitor* monitor, QObject* parent)
    : QObject(parent)
    , deviceConnection(connection)
{
    registerConnectionMetaTypes();

    worker = new DeviceAgentWorker(connection);
    worker->moveToThread(&thread);

    if (monitor) {
        connect(monitor, &DeviceMonitor::disconnected, worker, &DeviceAgentWorker::onPathRemoved,
            Qt::QueuedConnection);
        connect(
            monitor, &DeviceMonitor::disconnected, this,
            [this](const QString& path) { worker->notePathRemoved(path); }, Qt::DirectConnection);
    }
    connect(worker, &DeviceAgentWorker::ready, this, &DeviceAgent::onWorkerReady, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::disconnected, this, &DeviceAgent::disconnected, Qt::QueuedConnection);
    connect(
        worker, &DeviceAgentWorker::readyForUpdate, this, &DeviceAgent::readyForUpdate, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::notReadyForUpdate, this, &DeviceAgent::notReadyForUpdate,
        Qt::QueuedConnection);
    // Queued from the same thread as failure and so delivered before it.
    connect(
        worker, &DeviceAgentWorker::failureReason, this, [this](int result) { lastFailure = result; },
        Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::failure, this, &DeviceAgent::failure, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::progress, this, &DeviceAgent::progress, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::done, this, &DeviceAgent::done, Qt::QueuedConnection);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);

    {
        const InterruptsBlocked blocked;
        thread.start(QThread::InheritPriority);
    }
}

DeviceAgent::~DeviceAgent()
{
    // Read by a running transfer after every packet and by the ready check between its waits.
    thread.requestInterruption();
    thread.quit();
    thread.wait();
}

void DeviceAgent::start()
{
    QCoreApplication::postEvent(worker, new QEvent(DeviceAgentWorker::StartEvent));
}

void DeviceAgent::stop()
{
    QCoreApplication::postEvent(worker, new QEvent(DeviceAgentWorker::StopEvent));
}

void DeviceAgent::checkReadyForUpdate()
{
    QCoreApplication::postEvent(worker, new QEvent(DeviceAgentWorker::CheckReadyEvent));
}

void DeviceAgent::sendFile(int fileType, const QString& path)
{
    QCoreApplication::postEvent(worker, new SendFileEvent(fileType, path));
}

Connection DeviceAgent::connection() const
{
    return deviceConnection;
}

DeviceInfo DeviceAgent::deviceInfo() const
{
    return info;
}

void DeviceAgent::onWorkerReady(const DeviceInfo& info)
{
    this->info = info;
    emit ready(info);
}

} // namespace PelkPlus
