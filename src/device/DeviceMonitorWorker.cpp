#include "device/DeviceMonitorWorker.h"

#include "device/DeviceProtocol.h"
#include "device/HidBackend.h"

#include <QTimerEvent>

#include <algorithm>

namespace PelkPlus {

DeviceMonitorWorker::DeviceMonitorWorker(QObject* parent)
    : QObject(parent)
{ }

DeviceMonitorWorker::~DeviceMonitorWorker() = default;

QList<Connection> DeviceMonitorWorker::connections() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return list;
}

void DeviceMonitorWorker::customEvent(QEvent* event)
{
    if (event->type() != StartEvent) {
        QObject::customEvent(event);
        return;
    }
    // A second start request must not add a second timer. The poll runs on the protocol's clock:
    // a device that restarts faster under a test clock is still seen leaving.
    if (timerId == -1)
        timerId = startTimer(DeviceProtocol::scaled(pollIntervalMs), Qt::CoarseTimer);
}

void DeviceMonitorWorker::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timerId)
        poll();
    else
        QObject::timerEvent(event);
}

void DeviceMonitorWorker::poll()
{
    QList<Connection> found;
    const HidBackend* backend = hidBackend();
    // Any product of the vendor: the family is picked out by product ID below. A device with several
    // HID interfaces yields one connection per interface.
    HidDeviceEntry* entries = backend->enumerate(pelkVendorId, 0);
    for (const HidDeviceEntry* entry = entries; entry; entry = entry->next) {
        const int model = modelForProductId(entry->productId);
        // An entry without a path (hidapi had none, or it could not be copied) cannot be opened.
        if (model < 0 || !entry->path)
            continue;
        const QString path = QString::fromLatin1(entry->path);
        // hidapi lists one node once per usage of its report descriptor, all with the same path:
        // one node is one connection, and only one agent may open it.
        if (std::any_of(
                found.cbegin(), found.cend(), [&path](const Connection& c) { return c.path == path; }))
            continue;
        const QString serialNumber
            = entry->serialNumber ? QString::fromWCharArray(entry->serialNumber) : QString();
        found.append(Connection(path, model, serialNumber));
    }
    backend->freeEnumeration(entries);

    {
        std::lock_guard<std::mutex> lock(mutex);
        list.swap(found);
    }
    emit newConnections();
}

} // namespace PelkPlus
