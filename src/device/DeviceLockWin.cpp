#include "device/DeviceLock.h"

#include <cerrno>
#include <cstdio>

#include <windows.h>

namespace PelkPlus {

DeviceLock::Handle DeviceLock::lockOpened(int)
{
    errno = ENOSYS;
    return none;
}

DeviceLock::Handle DeviceLock::lockNode(const char* path)
{
    // A HID path is no file to lock: the device's mutex is named after the path, which names one
    // top-level collection of one device for as long as it stays plugged in.
    if (!path) {
        errno = ENOENT;
        return none;
    }
    return lockNamed(path);
}

DeviceLock::Handle DeviceLock::lockNamed(const std::string& name)
{
    const std::string objectName = namedLockPath(name);
    const std::wstring wide(objectName.begin(), objectName.end()); // safeName leaves ASCII only
    // The mutex itself is the lock: whoever created it holds the device until its handle is closed,
    // by unlock or by the process ending. Owning the mutex would tie it to the opening thread.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
    const DWORD reason = GetLastError();
    if (mutex && reason != ERROR_ALREADY_EXISTS)
        return reinterpret_cast<Handle>(mutex);
    if (mutex)
        CloseHandle(mutex);
    // Another account's mutex cannot even be opened: held all the same.
    if (mutex || reason == ERROR_ACCESS_DENIED) {
        recordHolder(std::string());
        errno = EBUSY;
    } else {
        errno = EIO;
    }
    return none;
}

void DeviceLock::unlock(Handle lock)
{
    if (lock != none && lock != 0)
        CloseHandle(reinterpret_cast<HANDLE>(lock));
}

std::string DeviceLock::namedLockPath(const std::string& name)
{
    // Global: one namespace for every session and account of the machine. A name longer than the
    // system takes keeps its start and is told apart by a hash of the whole.
    std::string safe = safeName(name);
    constexpr size_t longest = 200;
    if (safe.size() > longest) {
        unsigned long hash = 2166136261u;
        for (unsigned char c : name)
            hash = ((hash ^ c) * 16777619u) & 0xffffffffu;
        char suffix[16];
        std::snprintf(suffix, sizeof(suffix), "-%08lx", hash);
        safe = safe.substr(0, longest) + suffix;
    }
    return "Global\\quellor-pelk-" + safe;
}

std::string DeviceLock::holderOf(Handle)
{
    // Windows does not say who holds a mutex.
    return std::string();
}

} // namespace PelkPlus
