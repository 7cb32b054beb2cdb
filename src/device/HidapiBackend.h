#pragma once

namespace PelkPlus {

struct HidBackend;

// The real USB HID stack through hidapi.
const HidBackend* hidapiBackend();

} // namespace PelkPlus
