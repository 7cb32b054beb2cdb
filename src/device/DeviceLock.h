#pragma once

#include <string>

namespace PelkPlus {

// One updater per device, whatever the account: an advisory lock (flock) that the updater holds
// on a device for as long as it has the device open. Through hidapi the lock is taken on the
// device's own node, which every account that may open the device can also lock; on the virtual
// bus, where there is no node, on a file named after the device in the system's lock folder.
// The locks go with the process, so one that crashed holds nothing.
class DeviceLock
{
public:
    // Locks the node at path (opened read-only, so that the lock needs no more access than the
    // device itself). The descriptor holding the lock, or -1 with errno: EBUSY when another
    // process holds it (its description is then in lastHolder()), the open's reason otherwise.
    static int lockNode(const char* path);
    // Locks the file of the device known by name (letters and digits are kept, the rest becomes
    // '_') in lockDirectory(); as lockNode.
    static int lockNamed(const std::string& name);
    static void unlock(int fd);

    // The folder shared by every account for the named locks: /run/lock, where the system has
    // one, else /var/lock, else the temporary directory.
    static std::string lockDirectory();
    static std::string namedLockPath(const std::string& name);

    // "pid 1234 (pelk-cli)" of the process holding the lock on fd's file; "pid 1234" when its name
    // cannot be read, empty when no holder is listed (as in another PID namespace).
    static std::string holderOf(int fd);
    // The holder found by the last lock attempt of this process that met one.
    static std::string lastHolder();

private:
    static int lockOpened(int fd);
};

} // namespace PelkPlus
