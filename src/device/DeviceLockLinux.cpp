#include "device/DeviceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace PelkPlus {

namespace {

bool isSharedDirectory(const char* path)
{
    struct stat status
    {
    };
    // Sticky and open to all, as /run/lock and /tmp are: anyone may create, nobody may replace
    // another's file.
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX)
        && ::access(path, W_OK | X_OK) == 0;
}

// The folder shared by every account for the named locks.
std::string lockDirectory()
{
    for (const char* candidate : { "/run/lock", "/var/lock" }) {
        if (isSharedDirectory(candidate))
            return candidate;
    }
    const char* temporary = std::getenv("TMPDIR");
    return temporary && *temporary ? temporary : "/tmp";
}

} // namespace

DeviceLock::Handle DeviceLock::lockOpened(int fd)
{
    if (fd < 0)
        return none;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    const int reason = errno;
    if (reason == EWOULDBLOCK)
        recordHolder(holderOf(fd));
    ::close(fd);
    errno = reason == EWOULDBLOCK ? EBUSY : reason;
    return none;
}

DeviceLock::Handle DeviceLock::lockNode(const char* path)
{
    // Non-blocking: a node is never waited on here, and a reader that does not read only has its
    // reports dropped by the kernel.
    return lockOpened(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

DeviceLock::Handle DeviceLock::lockNamed(const std::string& name)
{
    const std::string path = namedLockPath(name);
    // Readable by every account, so that another's updater can try the lock; never a link that
    // somebody planted in the shared folder.
    const mode_t mask = ::umask(0);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    ::umask(mask);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    return lockOpened(fd);
}

void DeviceLock::unlock(Handle lock)
{
    if (lock >= 0)
        ::close(int(lock));
}

std::string DeviceLock::namedLockPath(const std::string& name)
{
    return lockDirectory() + "/quellor-pelk-" + safeName(name) + ".lock";
}

std::string DeviceLock::holderOf(Handle lock)
{
    struct stat status
    {
    };
    if (::fstat(int(lock), &status) != 0)
        return std::string();
    // /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:123 0 EOF", the file as major:minor (hex)
    // of its file system and its inode.
    char wanted[64];
    std::snprintf(wanted, sizeof(wanted), "%02x:%02x:%lu", major(status.st_dev), minor(status.st_dev),
        static_cast<unsigned long>(status.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind))
            continue;
        // A lock someone waits for is listed after "->"; only a held one names the holder.
        if (kind == "->" || kind != "FLOCK" || !(fields >> mode >> access >> pid >> file))
            continue;
        if (file != wanted)
            continue;
        std::string name;
        std::ifstream comm("/proc/" + pid + "/comm");
        std::getline(comm, name);
        std::string holder = "pid " + pid;
        if (!name.empty())
            holder.append(" (").append(name).append(")");
        return holder;
    }
    return std::string();
}

} // namespace PelkPlus
