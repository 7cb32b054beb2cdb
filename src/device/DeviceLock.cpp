#include "device/DeviceLock.h"

#include <mutex>

// The platform's locking is in DeviceLockLinux.cpp or DeviceLockWin.cpp, chosen by the build.

namespace PelkPlus {

namespace {

std::mutex holderLock;
std::string holderText;

} // namespace

std::string DeviceLock::safeName(const std::string& name)
{
    std::string safe;
    for (char c : name) {
        const bool kept
            = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        safe += kept ? c : '_';
    }
    return safe;
}

void DeviceLock::recordHolder(const std::string& holder)
{
    std::lock_guard<std::mutex> guard(holderLock);
    holderText = holder;
}

std::string DeviceLock::lastHolder()
{
    std::lock_guard<std::mutex> guard(holderLock);
    return holderText;
}

} // namespace PelkPlus
