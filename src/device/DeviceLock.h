#pragma once

#include <cstdint>
#include <string>

namespace PelkPlus {

// One updater per device, whatever the account: a lock that the updater holds on a device for as
// long as it has the device open. On Linux an advisory lock (flock): through hidapi on the device's
// own node, which every account that may open the device can also lock; on the virtual bus, where
// there is no node, on a file named after the device in the system's lock folder. On Windows, whose
// HID paths are no files, a named mutex in the global namespace, named after the device's path.
// The locks go with the process, so one that crashed holds nothing.
class DeviceLock
{
public:
    // What holds a lock: a descriptor on Linux, a handle on Windows.
    using Handle = std::intptr_t;
    static constexpr Handle none = -1;

    // Locks the device at path (on Linux its node, opened read-only, so that the lock needs no more
    // access than the device itself). The lock, or none with errno: EBUSY when another process
    // holds it (its description is then in lastHolder()), the open's reason otherwise.
    static Handle lockNode(const char* path);
    // Locks the device known by name (letters and digits are kept, the rest becomes '_'), as
    // lockNode.
    static Handle lockNamed(const std::string& name);
    static void unlock(Handle lock);

    // Where the named lock of name lives: a file in the shared lock folder (/run/lock, where the
    // system has one, else /var/lock, else the temporary directory) on Linux, the mutex's name on
    // Windows.
    static std::string namedLockPath(const std::string& name);

    // "pid 1234 (pelk-cli)" of the process holding the lock; "pid 1234" when its name cannot be
    // read, empty when no holder is known (as in another PID namespace, or on Windows).
    static std::string holderOf(Handle lock);
    // The holder found by the last lock attempt of this process that met one.
    static std::string lastHolder();

private:
    // name with every character but letters, digits and '-' made '_'.
    static std::string safeName(const std::string& name);
    static void recordHolder(const std::string& holder);
    // Takes the lock on a descriptor just opened, closing it when another holds the lock (Linux).
    static Handle lockOpened(int fd);
};

} // namespace PelkPlus
