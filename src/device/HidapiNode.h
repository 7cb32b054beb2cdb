#pragma once

#include <string>

namespace PelkPlus {

// What the platform's HID paths are to the file system. On Linux a path is a hidraw node, checked
// before hidapi opens it; on Windows it names a top-level collection to the HID class driver and is
// no file at all, so there is nothing to check.
class HidapiNode
{
public:
    // Whether path may be handed to hid_open_path; false with errno when not.
    static bool isOpenable(const char* path);
    // After hid_open_path failed on path: leaves the likeliest reason in errno.
    static void setOpenFailureReason(const char* path);
    // The USB port the interface at path is plugged into, as the HID driver names it; empty where
    // the platform does not tell.
    static std::string portPath(const char* path);
};

} // namespace PelkPlus
