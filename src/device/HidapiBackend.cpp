#include "device/HidapiBackend.h"

#include "device/DeviceLock.h"
#include "device/HidBackend.h"
#include "device/HidapiNode.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

namespace PelkPlus {

namespace {

// What a HidDevice of this backend is: hidapi's handle and the lock held on its node.
struct HidapiDevice
{
    hid_device* device = nullptr;
    DeviceLock::Handle lock = DeviceLock::none;
};

hid_device* hidapiHandle(HidDevice* device)
{
    return reinterpret_cast<HidapiDevice*>(device)->device;
}

// hidapi keeps one process-wide error state that enumeration and opening both rewrite, and the
// monitor's thread enumerates while an agent's thread opens: those calls take this lock.
std::mutex& hidapiLock()
{
    static std::mutex lock;
    return lock;
}

void initialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { hid_init(); });
}

// A missing string stays missing: an entry without a path must not look like one with an empty
// path, which would pass every check made for a missing one.
char* copyString(const char* text)
{
    if (!text)
        return nullptr;
    const size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy)
        return nullptr;
    if (length)
        std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

wchar_t* copyWideString(const wchar_t* text)
{
    if (!text)
        return nullptr;
    const size_t length = std::wcslen(text);
    wchar_t* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (!copy)
        return nullptr;
    if (length)
        std::wmemcpy(copy, text, length);
    copy[length] = L'\0';
    return copy;
}

HidDeviceEntry* enumerateDevices(unsigned short vendorId, unsigned short productId)
{
    initialiseOnce();
    std::lock_guard<std::mutex> guard(hidapiLock());
    hid_device_info* found = hid_enumerate(vendorId, productId);
    HidDeviceEntry* first = entriesFromHidapi(found);
    hid_free_enumeration(found);
    return first;
}

void freeEnumeration(HidDeviceEntry* entries)
{
    std::lock_guard<std::mutex> guard(hidapiLock());
    freeHidDeviceEntries(entries);
}

HidDevice* openPath(const char* path)
{
    if (!path) {
        errno = ENOENT;
        return nullptr;
    }
    if (!HidapiNode::isOpenable(path))
        return nullptr;
    // One updater per device, whatever the account: a device another updater holds is not opened.
    const DeviceLock::Handle lock = DeviceLock::lockNode(path);
    if (lock == DeviceLock::none) {
        // EACCES and ENOENT tell as the open would have; EBUSY names an updater at work.
        return nullptr;
    }
    initialiseOnce();
    hid_device* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(hidapiLock());
        device = hid_open_path(path);
    }
    if (device)
        return reinterpret_cast<HidDevice*>(new HidapiDevice { device, lock });
    DeviceLock::unlock(lock);
    HidapiNode::setOpenFailureReason(path);
    return nullptr;
}

int writeReport(HidDevice* device, const unsigned char* data, size_t length)
{
    return hid_write(hidapiHandle(device), data, length);
}

int readReport(HidDevice* device, unsigned char* data, size_t length, int milliseconds)
{
    return hid_read_timeout(hidapiHandle(device), data, length, milliseconds);
}

void closeDevice(HidDevice* device)
{
    if (!device)
        return;
    auto* opened = reinterpret_cast<HidapiDevice*>(device);
    hid_close(opened->device);
    DeviceLock::unlock(opened->lock);
    delete opened;
}

const HidBackend backend { "hidapi", enumerateDevices, freeEnumeration, openPath, writeReport, readReport,
    closeDevice };

} // namespace

HidDeviceEntry* entriesFromHidapi(const hid_device_info* found)
{
    HidDeviceEntry* first = nullptr;
    HidDeviceEntry** tail = &first;
    for (const hid_device_info* info = found; info; info = info->next) {
        const std::string port = HidapiNode::portPath(info->path);
        *tail = new HidDeviceEntry { copyString(info->path), info->vendor_id, info->product_id,
            copyWideString(info->serial_number), info->usage_page, nullptr,
            port.empty() ? nullptr : copyString(port.c_str()) };
        tail = &(*tail)->next;
    }
    return first;
}

const HidBackend* hidapiBackend()
{
    initialiseOnce();
    return &backend;
}

} // namespace PelkPlus
