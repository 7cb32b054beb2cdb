#include "device/HidapiBackend.h"

#include "device/HidBackend.h"

#include <hidapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

namespace PelkPlus {

namespace {

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

char* copyString(const char* text)
{
    const size_t length = text ? std::strlen(text) : 0;
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
    const size_t length = text ? std::wcslen(text) : 0;
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
    HidDeviceEntry* first = nullptr;
    HidDeviceEntry** tail = &first;
    for (hid_device_info* info = found; info; info = info->next) {
        *tail = new HidDeviceEntry { copyString(info->path), info->vendor_id, info->product_id,
            copyWideString(info->serial_number), nullptr };
        tail = &(*tail)->next;
    }
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
    initialiseOnce();
    std::lock_guard<std::mutex> guard(hidapiLock());
    return reinterpret_cast<HidDevice*>(hid_open_path(path));
}

int writeReport(HidDevice* device, const unsigned char* data, size_t length)
{
    return hid_write(reinterpret_cast<hid_device*>(device), data, length);
}

int readReport(HidDevice* device, unsigned char* data, size_t length, int milliseconds)
{
    return hid_read_timeout(reinterpret_cast<hid_device*>(device), data, length, milliseconds);
}

void closeDevice(HidDevice* device)
{
    hid_close(reinterpret_cast<hid_device*>(device));
}

const HidBackend backend { "hidapi", enumerateDevices, freeEnumeration, openPath, writeReport, readReport,
    closeDevice };

} // namespace

const HidBackend* hidapiBackend()
{
    initialiseOnce();
    return &backend;
}

} // namespace PelkPlus
