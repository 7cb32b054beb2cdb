#include "device/BusConnection.h"

#include <cerrno>
#include <chrono>
#include <mutex>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace PelkPlus {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

void startWinsockOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

SOCKET handleOf(std::intptr_t socket)
{
    return static_cast<SOCKET>(socket);
}

} // namespace

BusConnection* BusConnection::connectTo(const std::string& busName)
{
    // Windows has no Unix sockets here: only a bus on loopback TCP is reached.
    std::uint32_t host = 0;
    std::uint16_t port = 0;
    if (!tcpAddress(busName, &host, &port)) {
        errno = ENOENT;
        return nullptr;
    }
    startWinsockOnce();
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd == INVALID_SOCKET) {
        errno = EIO;
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int reason = WSAGetLastError();
        ::closesocket(fd);
        errno = reason == WSAECONNREFUSED ? ECONNREFUSED : EIO;
        return nullptr;
    }
    // Each report waits for its answer: none may wait in the stack for company.
    const BOOL noDelay = TRUE;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    // Non-blocking throughout: every wait is a WSAPoll with its own time.
    u_long nonBlocking = 1;
    ::ioctlsocket(fd, FIONBIO, &nonBlocking);
    return new BusConnection(static_cast<std::intptr_t>(fd));
}

BusConnection::~BusConnection()
{
    ::closesocket(handleOf(socket));
}

bool BusConnection::sendAll(const void* data, size_t length, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const int sent = ::send(handleOf(socket), bytes, int(length), 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return false;
            WSAPOLLFD waitFor { handleOf(socket), POLLWRNORM, 0 };
            const int left = millisecondsLeft(deadline);
            if (left <= 0 || WSAPoll(&waitFor, 1, left) == SOCKET_ERROR)
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
    WSAPOLLFD waitFor { handleOf(socket), POLLRDNORM, 0 };
    const int ready = WSAPoll(&waitFor, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready == SOCKET_ERROR)
        return Wait::Failed;
    if (ready == 0)
        return Wait::TimedOut;
    if (waitFor.revents & (POLLERR | POLLNVAL))
        return Wait::Failed;
    // Windows tells a closed peer only once what it sent has been read.
    if (failOnHangUp && (waitFor.revents & POLLHUP))
        return Wait::Failed;
    return Wait::Ready;
}

long BusConnection::receive(void* data, size_t length)
{
    const int got = ::recv(handleOf(socket), static_cast<char*>(data), int(length), 0);
    return got == SOCKET_ERROR ? -1 : long(got);
}

bool BusConnection::peerHungUp()
{
    // Peeked without waiting: 0 is the peer's close, would-block a peer with nothing to say.
    char byte = 0;
    const int got = ::recv(handleOf(socket), &byte, 1, MSG_PEEK);
    return got == 0 || (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK);
}

void BusConnection::shutDown()
{
    ::shutdown(handleOf(socket), SD_BOTH);
}

void BusConnection::setSendBuffer(int bytes)
{
    ::setsockopt(
        handleOf(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
}

std::string BusConnection::canonicalName(const std::string& busName)
{
    return busName;
}

} // namespace PelkPlus
