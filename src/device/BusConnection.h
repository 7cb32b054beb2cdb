#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace PelkPlus {

// One connection to the virtual bus: a Unix socket's path, or "tcp:HOST:PORT" for a bus served
// over TCP on loopback (how a Windows program reaches a simulator, there being no Unix sockets).
// Only a loopback address is taken, so that no report ever leaves the machine. The socket calls
// are the platform's (BusConnectionPosix.cpp, BusConnectionWin.cpp); failures leave errno set.
class BusConnection
{
public:
    enum class Wait { Ready, TimedOut, Failed };

    // Connected, or null with errno.
    static BusConnection* connectTo(const std::string& busName);
    ~BusConnection();

    // Sends everything, waiting while the peer takes nothing, until timeoutMs have passed.
    bool sendAll(const void* data, size_t length, int timeoutMs);
    // Waits until something can be read (or the peer has closed; the read then says so), up to
    // timeoutMs, or for ever when it is negative. With failOnHangUp a peer that hung up fails the
    // wait however much it left unread, as a device that went away takes its reports with it.
    Wait waitReadable(int timeoutMs, bool failOnHangUp);
    // Bytes read, 0 when the peer has closed, -1 on failure.
    long receive(void* data, size_t length);
    // Whether the peer has hung up, asked without waiting.
    bool peerHungUp();
    // No more reads or writes: a report half sent must not be followed by the rest later.
    void shutDown();
    void setSendBuffer(int bytes);

    // The bus as one name however it was written (a socket's real path), for naming its locks.
    static std::string canonicalName(const std::string& busName);
    // The IPv4 loopback address (host order) and port of a "tcp:HOST:PORT" name.
    static bool tcpAddress(const std::string& busName, std::uint32_t* address, std::uint16_t* port);

private:
    explicit BusConnection(std::intptr_t socket)
        : socket(socket)
    { }
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    std::intptr_t socket;
};

} // namespace PelkPlus
