#include "device/HidBackend.h"

#include "device/HidapiBackend.h"
#include "device/RecordingBackend.h"
#include "device/VirtualBusBackend.h"

#include <QDebug>
#include <QString>

#include <atomic>
#include <cstdlib>

namespace PelkPlus {

namespace {
std::atomic<const HidBackend*> chosenBackend { nullptr };
} // namespace

const HidBackend* hidBackend()
{
    const HidBackend* backend = chosenBackend.load();
    if (!backend) {
        const char* socketPath = std::getenv("PELK_HIDSIM_SOCKET");
        const bool virtualBus = socketPath && *socketPath;
        const HidBackend* fresh = virtualBus ? virtualBusBackend(socketPath) : hidapiBackend();
        // Nothing is recorded unless asked for.
        const char* recordTo = std::getenv("PELK_HID_RECORD");
        if (recordTo && *recordTo) {
            if (const HidBackend* recorder = recordingBackend(fresh, recordTo))
                fresh = recorder;
            else
                qCritical() << "HidBackend: Cannot record to" << QString::fromLocal8Bit(recordTo);
        }
        // Said once, by whichever thread made the choice: with the virtual bus no real device is
        // ever seen, which would otherwise look like a fault of the USB side.
        if (chosenBackend.compare_exchange_strong(backend, fresh) && virtualBus)
            qDebug() << "HidBackend: Using the virtual bus instead of USB:"
                     << QString::fromLocal8Bit(socketPath);
        backend = chosenBackend.load();
    }
    return backend;
}

void freeHidDeviceEntries(HidDeviceEntry* entries)
{
    while (entries) {
        HidDeviceEntry* next = entries->next;
        std::free(entries->path);
        std::free(entries->serialNumber);
        std::free(entries->portPath);
        delete entries;
        entries = next;
    }
}

void setHidBackend(const HidBackend* backend)
{
    chosenBackend.store(backend);
}

} // namespace PelkPlus
