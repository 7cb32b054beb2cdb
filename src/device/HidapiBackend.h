#pragma once

struct hid_device_info;

namespace PelkPlus {

struct HidBackend;
struct HidDeviceEntry;

// The real USB HID stack through hidapi.
const HidBackend* hidapiBackend();

// Copies hidapi's enumeration into the backend table's entries (freed with freeHidDeviceEntries);
// a string hidapi left out stays null.
HidDeviceEntry* entriesFromHidapi(const hid_device_info* found);

} // namespace PelkPlus
