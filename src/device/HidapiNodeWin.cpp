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

} // namespace PelkPlus
