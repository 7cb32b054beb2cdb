#include "device/VirtualBusBackend.h"

#include "device/DeviceLock.h"
#include "device/HidBackend.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace PelkPlus {

struct HidDevice
{
    int fd = -1;
    int lockFd = -1;
    unsigned char pending[64] = {};
    size_t pendingLength = 0;
};

namespace {

constexpr size_t inputReportSize = 64;
constexpr size_t outputReportSize = 65;
// A small send buffer keeps the host's writes close to what the device has actually taken,
// as with a real interrupt endpoint.
constexpr int clientSendBuffer = 2048;
// The bus speaks short lines (a device's path, its IDs and serial number); anything longer is not
// the bus, and nothing it sends may make the updater hold on to it.
constexpr size_t maxLineLength = 4096;
constexpr int lineTimeoutMs = 2000;
// usbhid gives up on an output report the device does not take within this time, and hidraw's
// write then fails; the bus does the same rather than block for ever.
constexpr int writeTimeoutMs = 5000;
constexpr int maxEnumeratedInterfaces = 256;

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative.
int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

std::mutex pathLock;
std::string busPath;

std::string currentPath()
{
    std::lock_guard<std::mutex> guard(pathLock);
    return busPath;
}

// "tcp:HOST:PORT" names a bus served over TCP, for a host without Unix sockets: only a loopback
// address is taken, so that no report ever leaves the machine.
bool tcpBusAddress(const std::string& name, sockaddr_in& address)
{
    if (name.rfind("tcp:", 0) != 0)
        return false;
    const size_t colon = name.rfind(':');
    if (colon <= 4)
        return false;
    const std::string host = name.substr(4, colon - 4);
    const std::string port = name.substr(colon + 1);
    char* end = nullptr;
    const unsigned long number = std::strtoul(port.c_str(), &end, 10);
    address = sockaddr_in {};
    address.sin_family = AF_INET;
    if (port.empty() || *end != '\0' || number == 0 || number > 65535
        || ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
        return false;
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127)
        return false;
    address.sin_port = htons(static_cast<std::uint16_t>(number));
    return true;
}

int connectOverTcp(const std::string& name)
{
    sockaddr_in address {};
    if (!tcpBusAddress(name, address)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return -1;
    }
    // Each report waits for its answer: none may wait in the stack for company.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    return fd;
}

int connectToBus()
{
    const std::string path = currentPath();
    if (path.rfind("tcp:", 0) == 0)
        return connectOverTcp(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends everything, waiting while the peer takes nothing, until the deadline.
bool sendAll(int fd, const void* data, size_t length, int timeoutMs = lineTimeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            pollfd waitFor { fd, POLLOUT, 0 };
            const int left = millisecondsLeft(deadline);
            if (left <= 0)
                return false;
            if (::poll(&waitFor, 1, left) < 0 && errno != EINTR)
                return false;
            continue;
        }
        bytes += sent;
        length -= size_t(sent);
    }
    return true;
}

// Reads one line byte by byte, so that nothing after it is taken from the socket. Fails on a line
// longer than the bus ever sends, and when the whole line has not come within its time.
bool readLine(int fd, std::string& line)
{
    line.clear();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lineTimeoutMs);
    char c = 0;
    for (;;) {
        pollfd waitFor { fd, POLLIN, 0 };
        const int ready = ::poll(&waitFor, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t got = ::recv(fd, &c, 1, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
        if (line.size() >= maxLineLength)
            return false;
        line.push_back(c);
    }
}

char* copyString(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy)
        return nullptr;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

wchar_t* wideFromUtf8(const std::string& text)
{
    // Serial numbers are UTF-8 on the bus; decode them by hand so the result does not depend on
    // the process locale.
    wchar_t* out = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    if (!out)
        return nullptr;
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned code = c;
        size_t extra = 0;
        if (c >= 0xF0) {
            code = c & 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            code = c & 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            code = c & 0x1F;
            extra = 1;
        }
        ++i;
        for (size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        out[n++] = static_cast<wchar_t>(code);
    }
    out[n] = L'\0';
    return out;
}

HidDeviceEntry* enumerate(unsigned short vendorId, unsigned short productId)
{
    const int fd = connectToBus();
    if (fd < 0)
        return nullptr; // no bus is an empty bus
    HidDeviceEntry* first = nullptr;
    HidDeviceEntry** tail = &first;
    std::string line;
    int listed = 0;
    if (sendAll(fd, "ENUM\n", 5)) {
        while (listed < maxEnumeratedInterfaces && readLine(fd, line) && !line.empty()) {
            const size_t t1 = line.find('\t');
            const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
            const size_t t3 = t2 == std::string::npos ? t2 : line.find('\t', t2 + 1);
            if (t3 == std::string::npos)
                continue;
            const auto vendor = static_cast<unsigned short>(
                std::strtoul(line.substr(t1 + 1, t2 - t1 - 1).c_str(), nullptr, 16));
            const auto product = static_cast<unsigned short>(
                std::strtoul(line.substr(t2 + 1, t3 - t2 - 1).c_str(), nullptr, 16));
            if ((vendorId && vendor != vendorId) || (productId && product != productId))
                continue;
            *tail = new HidDeviceEntry { copyString(line.substr(0, t1)), vendor, product,
                wideFromUtf8(line.substr(t3 + 1)), 0, nullptr };
            tail = &(*tail)->next;
            ++listed;
        }
    }
    ::close(fd);
    return first;
}

// The bus has no device node to lock: the lock is a file named after the device's path and the
// bus it is on (a hash of the socket's path), so that two buses of simulated devices are two sets of
// devices, as they are to the updaters that use them.
std::string deviceLockName(const char* path)
{
    std::string bus = currentPath();
    if (char* resolved = ::realpath(bus.c_str(), nullptr)) {
        bus = resolved;
        std::free(resolved);
    }
    // FNV-1a: a name, not a secret.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : bus)
        hash = (hash ^ c) * 16777619u;
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), "-bus%08x", hash);
    return std::string(path) + suffix;
}

HidDevice* openPath(const char* path)
{
    // One updater per device: one that another updater has open is not even asked for.
    const int lockFd = DeviceLock::lockNamed(deviceLockName(path));
    if (lockFd < 0) {
        if (errno != EBUSY)
            errno = EIO;
        return nullptr;
    }
    const int fd = connectToBus();
    if (fd < 0) {
        const int reason = errno;
        DeviceLock::unlock(lockFd);
        errno = reason;
        return nullptr;
    }
    const int sendBuffer = clientSendBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof(sendBuffer));
    const std::string request = std::string("OPEN ") + path + "\n";
    std::string reply;
    if (!sendAll(fd, request.data(), request.size()) || !readLine(fd, reply) || reply != "OK") {
        ::close(fd);
        DeviceLock::unlock(lockFd);
        // The bus names the reason as the kernel would give it.
        errno = reply.rfind("ERR permission", 0) == 0   ? EACCES
            : reply.rfind("ERR no such device", 0) == 0 ? ENOENT
                                                        : EIO;
        return nullptr;
    }
    auto* device = new HidDevice;
    device->fd = fd;
    device->lockFd = lockFd;
    return device;
}

int writeReport(HidDevice* device, const unsigned char* data, size_t length)
{
    if (!device || device->fd < 0 || length != outputReportSize)
        return -1;
    // A device that hung up takes no more reports. A Unix socket refuses the write by itself; TCP
    // would take it into its buffers, so the hang-up is looked for first.
    pollfd hungUp { device->fd, POLLRDHUP, 0 };
    if (::poll(&hungUp, 1, 0) > 0 && (hungUp.revents & (POLLRDHUP | POLLHUP | POLLERR)))
        return -1;
    // A report the device does not take in time is lost; the rest of it must not follow later as
    // the start of another, so the connection is given up.
    if (sendAll(device->fd, data, length, writeTimeoutMs))
        return int(length);
    ::shutdown(device->fd, SHUT_RDWR);
    return -1;
}

int readReport(HidDevice* device, unsigned char* data, size_t length, int milliseconds)
{
    if (!device || device->fd < 0)
        return -1;
    // One deadline for the whole read: a report arriving in pieces does not earn each piece the
    // full time-out again.
    const Clock::time_point deadline
        = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    while (device->pendingLength < inputReportSize) {
        pollfd waitFor { device->fd, POLLIN | POLLRDHUP, 0 };
        const int ready = ::poll(&waitFor, 1, milliseconds < 0 ? -1 : millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
        if (ready == 0)
            return 0; // a partial report stays pending for the next read
        // A device that hung up takes its queued reports with it: hidraw fails the read however
        // much was still waiting, and so does the bus.
        if (waitFor.revents & (POLLRDHUP | POLLHUP | POLLERR))
            return -1;
        const ssize_t got = ::recv(
            device->fd, device->pending + device->pendingLength, inputReportSize - device->pendingLength, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return -1;
        device->pendingLength += size_t(got);
    }
    const size_t copied = length < inputReportSize ? length : inputReportSize;
    std::memcpy(data, device->pending, copied);
    device->pendingLength = 0;
    return int(copied);
}

void closeDevice(HidDevice* device)
{
    if (!device)
        return;
    if (device->fd >= 0)
        ::close(device->fd);
    DeviceLock::unlock(device->lockFd);
    delete device;
}

const HidBackend backend { "virtual bus", enumerate, freeHidDeviceEntries, openPath, writeReport, readReport,
    closeDevice };

} // namespace

const HidBackend* virtualBusBackend(const char* socketPath)
{
    std::lock_guard<std::mutex> guard(pathLock);
    busPath = socketPath ? socketPath : "";
    return &backend;
}

} // namespace PelkPlus
