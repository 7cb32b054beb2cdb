#include "device/BusConnection.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace PelkPlus {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// A stream socket of the family connected to the address; -1 with errno as connect left it.
int connectedSocket(int family, const sockaddr* address, socklen_t length)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, address, length) != 0) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return -1;
    }
    return fd;
}

int connectOverTcp(const std::string& busName)
{
    std::uint32_t host = 0;
    std::uint16_t port = 0;
    if (!BusConnection::tcpAddress(busName, &host, &port)) {
        errno = EINVAL;
        return -1;
    }
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    const int fd = connectedSocket(AF_INET, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    if (fd < 0)
        return -1;
    // Each report waits for its answer: none may wait in the stack for company.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    return fd;
}

int connectOverUnixSocket(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        errno = ENOENT;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return connectedSocket(AF_UNIX, reinterpret_cast<sockaddr*>(&address), sizeof(address));
}

} // namespace

BusConnection* BusConnection::connectTo(const std::string& busName)
{
    const int fd = busName.rfind("tcp:", 0) == 0 ? connectOverTcp(busName) : connectOverUnixSocket(busName);
    return fd < 0 ? nullptr : new BusConnection(fd);
}

BusConnection::~BusConnection()
{
    ::close(int(socket));
}

bool BusConnection::sendAll(const void* data, size_t length, int timeoutMs)
{
    const int fd = int(socket);
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

BusConnection::Wait BusConnection::waitReadable(int timeoutMs, bool failOnHangUp)
{
    const Clock::time_point deadline
        = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pollfd waitFor { int(socket), short(POLLIN | (failOnHangUp ? POLLRDHUP : 0)), 0 };
        const int ready = ::poll(&waitFor, 1, timeoutMs < 0 ? -1 : millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Wait::Failed;
        if (ready == 0)
            return Wait::TimedOut;
        if (failOnHangUp && (waitFor.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return Wait::Failed;
        return Wait::Ready;
    }
}

long BusConnection::receive(void* data, size_t length)
{
    for (;;) {
        const ssize_t got = ::recv(int(socket), data, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        return long(got);
    }
}

bool BusConnection::peerHungUp()
{
    // A Unix socket refuses a write to a peer that has gone by itself; TCP would take it into its
    // buffers, so the hang-up is looked for.
    pollfd hungUp { int(socket), POLLRDHUP, 0 };
    return ::poll(&hungUp, 1, 0) > 0 && (hungUp.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void BusConnection::shutDown()
{
    ::shutdown(int(socket), SHUT_RDWR);
}

void BusConnection::setSendBuffer(int bytes)
{
    ::setsockopt(int(socket), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
}

std::string BusConnection::canonicalName(const std::string& busName)
{
    std::string name = busName;
    if (char* resolved = ::realpath(busName.c_str(), nullptr)) {
        name = resolved;
        std::free(resolved);
    }
    return name;
}

} // namespace PelkPlus
