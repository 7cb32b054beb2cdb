#pragma once

namespace PelkPlus {

struct HidBackend;

// HID calls carried over the virtual bus: a Unix socket served by a device simulator. The wire
// protocol is line based for enumeration and opening, then raw reports (65 bytes out, 64 in).
const HidBackend* virtualBusBackend(const char* socketPath);

} // namespace PelkPlus
