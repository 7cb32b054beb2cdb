#include "device/DeviceAgent.h"

#include "device/DeviceAgentWorker.h"
#include "device/DeviceMonitor.h"
#include "device/DeviceProtocol.h"
#include "device/InterruptsBlocked.h"
#include "device/SendFileEvent.h"

#include <QCoreApplication>
#include <QDebug>

namespace PelkPlus {

DeviceAgent::DeviceAgent(const Connection& connection, DeviceMonitor* monitor, QObject* parent)
    : QObject(parent)
    , deviceConnection(connection)
    , thread(new QThread)
{
    registerConnectionMetaTypes();

    worker = new DeviceAgentWorker(connection);
    worker->moveToThread(thread);

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
    // Queued from the same thread as the failure that follows it, so it is kept before failure is heard.
    connect(
        worker, &DeviceAgentWorker::failedWith, this,
        [this](int result) { lastLinkResult = LinkResult(result); }, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::failure, this, &DeviceAgent::failure, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::progress, this, &DeviceAgent::progress, Qt::QueuedConnection);
    connect(worker, &DeviceAgentWorker::done, this, &DeviceAgent::done, Qt::QueuedConnection);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);

    {
        const InterruptsBlocked blocked;
        thread->start(QThread::InheritPriority);
    }
}

DeviceAgent::~DeviceAgent()
{
    // Read by a running transfer after every packet and by the ready check between its waits.
    thread->requestInterruption();
    thread->quit();
    if (thread->wait(DeviceProtocol::agentShutdownMs)) {
        delete thread;
        return;
    }
    // Held in a call that does not return. The worker's signals no longer reach anyone (this agent
    // is going), and the thread deletes the worker, and then itself, once that call is over.
    qCritical() << "DeviceAgent: the device's thread did not end within" << DeviceProtocol::agentShutdownMs
                << "ms; it is left to end by itself.";
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
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

void DeviceAgent::sendBytes(int fileType, const QByteArray& contents, const QString& name)
{
    QCoreApplication::postEvent(worker, new SendFileEvent(fileType, contents, name));
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
    lastLinkResult = LinkOk;
    emit ready(info);
}

} // namespace PelkPlus
