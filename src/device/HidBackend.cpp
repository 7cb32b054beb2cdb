#include "device/HidBackend.h"

#include "device/HidapiBackend.h"
#include "device/VirtualBusBackend.h"

#include <atomic>
#include <cstdlib>

namespace PelkPlus {

namespace {
std::atomic<const HidBackend*> chosenBackend { nullptr };

const HidBackend* backendFromEnvironment()
{
    const char* socketPath = std::getenv("PELK_HIDSIM_SOCKET");
    if (socketPath && *socketPath)
        return virtualBusBackend(socketPath);
    return hidapiBackend();
}
} // namespace

const HidBackend* hidBackend()
{
    const HidBackend* backend = chosenBackend.load();
    if (!backend) {
        const HidBackend* fresh = backendFromEnvironment();
        chosenBackend.compare_exchange_strong(backend, fresh);
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
        delete entries;
        entries = next;
    }
}

void setHidBackend(const HidBackend* backend)
{
    chosenBackend.store(backend);
}

} // namespace PelkPlus
