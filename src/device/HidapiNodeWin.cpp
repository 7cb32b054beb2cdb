#include "device/HidapiNode.h"

#include <cerrno>

namespace PelkPlus {

bool HidapiNode::isOpenable(const char*)
{
    return true;
}

void HidapiNode::setOpenFailureReason(const char*)
{
    // The HID class driver's reason is not told through hidapi: a collection that went away and one
    // opened elsewhere exclusively look alike. The device is asked for again on the next poll.
    errno = ENOENT;
}

// A collection's path names the device instance, not the port; the serial number and the path are
// all there is to find a device by after its restart.
std::string HidapiNode::portPath(const char*)
{
    return {};
}

} // namespace PelkPlus
