#include "device/DeviceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace PelkPlus {

namespace {

std::mutex holderLock;
std::string holderText;

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

} // namespace

int DeviceLock::lockOpened(int fd)
{
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    const int reason = errno;
    if (reason == EWOULDBLOCK) {
        const std::string holder = holderOf(fd);
        std::lock_guard<std::mutex> guard(holderLock);
        holderText = holder;
    }
    ::close(fd);
    errno = reason == EWOULDBLOCK ? EBUSY : reason;
    return -1;
}

int DeviceLock::lockNode(const char* path)
{
    // Non-blocking: a node is never waited on here, and a reader that does not read only has its
    // reports dropped by the kernel.
    return lockOpened(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

int DeviceLock::lockNamed(const std::string& name)
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

void DeviceLock::unlock(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

std::string DeviceLock::lockDirectory()
{
    for (const char* candidate : { "/run/lock", "/var/lock" }) {
        if (isSharedDirectory(candidate))
            return candidate;
    }
    const char* temporary = std::getenv("TMPDIR");
    return temporary && *temporary ? temporary : "/tmp";
}

std::string DeviceLock::namedLockPath(const std::string& name)
{
    std::string safe;
    for (char c : name) {
        const bool kept
            = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        safe += kept ? c : '_';
    }
    return lockDirectory() + "/quellor-pelk-" + safe + ".lock";
}

std::string DeviceLock::holderOf(int fd)
{
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0)
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

std::string DeviceLock::lastHolder()
{
    std::lock_guard<std::mutex> guard(holderLock);
    return holderText;
}

} // namespace PelkPlus
