#pragma once

#include <cstddef>

namespace PelkPlus {

struct HidDevice; // opaque handle of one open HID interface, owned by the backend that opened it

constexpr unsigned short vendorUsagePage = 0xFF00;

// One HID interface found by an enumeration; a singly linked list freed by freeEnumeration.
struct HidDeviceEntry
{
    char* path;
    unsigned short vendorId;
    unsigned short productId;
    wchar_t* serialNumber;
    // The top-level usage page of the interface's report descriptor; 0 when the backend does not
    // tell. The device's own protocol runs on a vendor-defined page (vendorUsagePage and up).
    unsigned short usagePage;
    HidDeviceEntry* next;
    // Where the device is plugged in ("usb-0000:00:14.0-1.2"): it stays across the device's restart
    // while its node may not. Null when the backend does not tell.
    char* portPath;
};

// The six HID calls the program makes, with hidapi's contracts: write returns -1 on failure,
// readTimeout -1 on failure, 0 when nothing arrived in time, else the byte count. hidapi gives no
// reason for a failed open; openPath leaves one in errno (EACCES when this account may not open the
// path, ENOENT when it is gone, anything else when not known). An entry's path or serial number is
// null when the backend had none.
struct HidBackend
{
    const char* name;
    HidDeviceEntry* (*enumerate)(unsigned short vendorId, unsigned short productId);
    void (*freeEnumeration)(HidDeviceEntry* entries);
    HidDevice* (*openPath)(const char* path);
    int (*write)(HidDevice* device, const unsigned char* data, size_t length);
    int (*readTimeout)(HidDevice* device, unsigned char* data, size_t length, int milliseconds);
    void (*close)(HidDevice* device);
};

// Frees an enumeration built by either backend: entries allocated with new, strings with malloc.
void freeHidDeviceEntries(HidDeviceEntry* entries);

// The backend in use: the virtual bus when PELK_HIDSIM_SOCKET names a socket, hidapi otherwise,
// recorded to the file PELK_HID_RECORD names when it is set. Chosen on first use.
const HidBackend* hidBackend();

// Chooses the backend before first use (start-up and tests); null returns to the environment's choice.
void setHidBackend(const HidBackend* backend);

} // namespace PelkPlus
