#include "device/DeviceMonitor.h"

#include "device/DeviceMonitorWorker.h"
#include "device/InterruptsBlocked.h"

#include <QCoreApplication>
#include <QDebug>

namespace PelkPlus {

DeviceMonitor::DeviceMonitor(QObject* parent)
    : QObject(parent)
{
    registerConnectionMetaTypes();
}

DeviceMonitor::~DeviceMonitor()
{
    // The worker goes with the thread's finished signal, taking its timer with it.
    thread.quit();
    thread.wait();
}

void DeviceMonitor::start()
{
    if (thread.isRunning())
        return;
    {
        const InterruptsBlocked blocked;
        thread.start(QThread::InheritPriority);
    }
    worker = new DeviceMonitorWorker;
    worker->moveToThread(&thread);
    connect(worker, &DeviceMonitorWorker::newConnections, this, &DeviceMonitor::compareConnections);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    QCoreApplication::postEvent(worker, new QEvent(DeviceMonitorWorker::StartEvent));
}

QList<Connection> DeviceMonitor::connections() const
{
    return previous;
}

void DeviceMonitor::compareConnections()
{
    const QList<Connection> current = worker->connections();
    QList<Connection> appeared = current;
    QList<Connection> vanished;
    for (const Connection& old : qAsConst(previous)) {
        const int index = appeared.indexOf(old);
        if (index >= 0)
            appeared.removeAt(index);
        else
            vanished.append(old);
    }
    previous = current;

    // Every disconnection first, so that an agent for a path that changed its model is dropped
    // before the new connection is offered.
    for (const Connection& gone : qAsConst(vanished)) {
        qDebug() << "Disconnected:" << gone.serialNumber << gone.path;
        emit disconnected(gone.path);
    }
    for (const Connection& added : qAsConst(appeared)) {
        qDebug() << "Connected:" << added.serialNumber << added.path;
        emit connected(added);
    }
    emit scanned();
}

} // namespace PelkPlus
