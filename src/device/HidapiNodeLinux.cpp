#include "device/HidapiNode.h"

#include <cerrno>

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

} // namespace PelkPlus
