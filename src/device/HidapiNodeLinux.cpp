#include "device/HidapiNode.h"

#include <cerrno>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace PelkPlus {

bool HidapiNode::isOpenable(const char* path)
{
    // hidapi 0.13.1 touches freed memory when its first ioctl on a freshly opened node fails, which
    // is what a node that vanished after the enumeration, or anything that is no device node, gives.
    // Only such a node is handed to it; this narrows the window to the moment between the two calls.
    struct stat node
    {
    };
    if (::stat(path, &node) != 0)
        return false;
    if (!S_ISCHR(node.st_mode)) {
        errno = ENODEV;
        return false;
    }
    return true;
}

void HidapiNode::setOpenFailureReason(const char* path)
{
    // hidapi keeps no errno; asking the file system again tells a node this account may not open
    // (EACCES) from one that has gone (ENOENT).
    if (::access(path, R_OK | W_OK) == 0)
        errno = EIO;
}

std::string HidapiNode::portPath(const char* path)
{
    // The HID device a hidraw node belongs to names its physical path in its uevent
    // ("HID_PHYS=usb-0000:00:14.0-1.2/input0"): the port, and the interface after it.
    const std::string node(path ? path : "");
    const size_t slash = node.rfind('/');
    const std::string name = slash == std::string::npos ? node : node.substr(slash + 1);
    if (name.rfind("hidraw", 0) != 0 || name.find("..") != std::string::npos)
        return {};
    std::ifstream uevent("/sys/class/hidraw/" + name + "/device/uevent");
    std::string line;
    const std::string key = "HID_PHYS=";
    while (std::getline(uevent, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string phys = line.substr(key.size());
        const size_t input = phys.rfind("/input");
        if (input != std::string::npos)
            phys.erase(input);
        return phys;
    }
    return {};
}

} // namespace PelkPlus
