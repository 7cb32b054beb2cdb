#include "device/HidapiBackend.h"

#include "device/DeviceLock.h"
#include "device/HidBackend.h"
#include "device/HidapiNode.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace PelkPlus {

namespace {

// A report as long as the longest the program writes: the payload packet with its report ID byte.
constexpr size_t reportCapacity = 65;

// What a HidDevice of this backend is: hidapi's handle (null once a reopen after a failed write
// failed), the lock held on its node, and the reports handed to writes.
struct HidapiDevice
{
    hid_device* device = nullptr;
    DeviceLock::Handle lock = DeviceLock::none;
    std::string path;
    // What the next write hands to hidapi. On Windows a write that gave up after its second is still
    // queued in the driver, reading the buffer it was given: that buffer is one of these, never the
    // caller's, and is kept in `abandoned` until the device is closed.
    std::unique_ptr<unsigned char[]> report { new unsigned char[reportCapacity] };
    std::vector<std::unique_ptr<unsigned char[]>> abandoned;
};

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
    if (device) {
        auto* opened = new HidapiDevice;
        opened->device = device;
        opened->lock = lock;
        opened->path = path;
        return reinterpret_cast<HidDevice*>(opened);
    }
    DeviceLock::unlock(lock);
    HidapiNode::setOpenFailureReason(path);
    return nullptr;
}

// Whether a write failed with reason because the device is no longer there (Linux tells; hidapi on
// Windows gives no reason).
bool deviceGone(int reason)
{
#ifdef ESHUTDOWN
    if (reason == ESHUTDOWN)
        return true;
#endif
    return reason == ENODEV || reason == ENOENT;
}

int writeReport(HidDevice* device, const unsigned char* data, size_t length)
{
    auto* opened = reinterpret_cast<HidapiDevice*>(device);
    if (!opened->device || length > reportCapacity) {
        errno = opened->device ? EINVAL : ENODEV;
        return -1;
    }
    std::memcpy(opened->report.get(), data, length);
    // hidapi sets no errno on Windows: a reason left from before must not pass for this write's.
    errno = 0;
    const int written = hid_write(opened->device, opened->report.get(), length);
    const int reason = errno;
    // A device that has gone is not opened again: its node may be on its way out or back.
    if (written != -1 || deviceGone(reason))
        return written;
    // hidapi's Windows write gives up after a second without cancelling what it queued, and its next
    // write would reuse the same overlapped state while the first may still be under way: a later
    // packet could reach the device in place of, or inside, this one. So after a failed write the
    // handle is closed, which cancels what is queued, and the device opened again, as on every
    // platform alike. A device that cannot be opened again stays closed, and every later call
    // fails as it would have.
    opened->abandoned.push_back(std::move(opened->report));
    opened->report.reset(new unsigned char[reportCapacity]);
    hid_close(opened->device);
    {
        std::lock_guard<std::mutex> guard(hidapiLock());
        opened->device = hid_open_path(opened->path.c_str());
    }
    errno = reason;
    return -1;
}

int readReport(HidDevice* device, unsigned char* data, size_t length, int milliseconds)
{
    auto* opened = reinterpret_cast<HidapiDevice*>(device);
    if (!opened->device) {
        errno = ENODEV;
        return -1;
    }
    return hid_read_timeout(opened->device, data, length, milliseconds);
}

void closeDevice(HidDevice* device)
{
    if (!device)
        return;
    auto* opened = reinterpret_cast<HidapiDevice*>(device);
    if (opened->device)
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
