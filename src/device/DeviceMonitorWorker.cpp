#include "device/DeviceMonitorWorker.h"

#include "device/DeviceProtocol.h"
#include "device/HidBackend.h"

#include <QTimerEvent>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

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
    // The interface that speaks the device's protocol is on a vendor-defined usage page: it comes
    // first, so that it is the one selected; the order is otherwise the enumeration's.
    std::vector<const HidDeviceEntry*> ordered;
    for (const HidDeviceEntry* entry = entries; entry; entry = entry->next)
        ordered.push_back(entry);
    std::stable_partition(ordered.begin(), ordered.end(),
        [](const HidDeviceEntry* entry) { return entry->usagePage >= vendorUsagePage; });
    // Where each top-level collection has a path of its own (Windows), a device that has a
    // vendor-defined collection speaks through it alone: its collections on other pages are no
    // connections, or one device would be offered once per collection.
    std::vector<std::pair<unsigned short, std::wstring>> vendorCollections;
    for (const HidDeviceEntry* entry : ordered) {
        if (entry->usagePage >= vendorUsagePage && entry->serialNumber && *entry->serialNumber)
            vendorCollections.emplace_back(entry->productId, entry->serialNumber);
    }
    for (const HidDeviceEntry* entry : ordered) {
        const int model = modelForProductId(entry->productId);
        // An entry without a path (hidapi had none, or it could not be copied) cannot be opened.
        if (model < 0 || !entry->path)
            continue;
        if (entry->usagePage != 0 && entry->usagePage < vendorUsagePage && entry->serialNumber
            && std::find(vendorCollections.cbegin(), vendorCollections.cend(),
                   std::make_pair(entry->productId, std::wstring(entry->serialNumber)))
                != vendorCollections.cend())
            continue;
        const QString path = QString::fromLatin1(entry->path);
        // hidapi lists one node once per usage of its report descriptor, all with the same path:
        // one node is one connection, and only one agent may open it.
        if (std::any_of(
                found.cbegin(), found.cend(), [&path](const Connection& c) { return c.path == path; }))
            continue;
        const QString serialNumber
            = entry->serialNumber ? QString::fromWCharArray(entry->serialNumber) : QString();
        Connection connection(path, model, serialNumber);
        if (entry->portPath)
            connection.portPath = QString::fromUtf8(entry->portPath);
        found.append(connection);
    }
    backend->freeEnumeration(entries);
    // Interfaces of one device share its model and serial number; without a serial number nothing
    // tells that two belong together.
    for (Connection& connection : found) {
        if (connection.serialNumber.isEmpty())
            continue;
        for (const Connection& other : qAsConst(found)) {
            if (other.path != connection.path && other.model == connection.model
                && other.serialNumber == connection.serialNumber)
                connection.otherInterfaces.append(other.path);
        }
    }

    {
        std::lock_guard<std::mutex> lock(mutex);
        list.swap(found);
    }
    emit newConnections();
}

} // namespace PelkPlus
