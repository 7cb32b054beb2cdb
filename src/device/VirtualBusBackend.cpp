#include "device/VirtualBusBackend.h"

#include "device/BusConnection.h"
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

namespace PelkPlus {

struct HidDevice
{
    BusConnection* connection = nullptr;
    DeviceLock::Handle lock = DeviceLock::none;
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

std::mutex pathLock;
std::string busPath;

std::string currentPath()
{
    std::lock_guard<std::mutex> guard(pathLock);
    return busPath;
}

BusConnection* connectToBus()
{
    return BusConnection::connectTo(currentPath());
}

// Reads one line byte by byte, so that nothing after it is taken from the socket. Fails on a line
// longer than the bus ever sends, and when the whole line has not come within its time.
bool readLine(BusConnection& connection, std::string& line)
{
    line.clear();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lineTimeoutMs);
    char c = 0;
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (connection.waitReadable(left > 0 ? int(left) : 0, false) != BusConnection::Wait::Ready)
            return false;
        if (connection.receive(&c, 1) <= 0)
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
    BusConnection* connection = connectToBus();
    if (!connection)
        return nullptr; // no bus is an empty bus
    HidDeviceEntry* first = nullptr;
    HidDeviceEntry** tail = &first;
    std::string line;
    int listed = 0;
    if (connection->sendAll("ENUM\n", 5, lineTimeoutMs)) {
        while (listed < maxEnumeratedInterfaces && readLine(*connection, line) && !line.empty()) {
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
            // The port path follows the serial number where the bus gives one.
            const size_t t4 = line.find('\t', t3 + 1);
            const std::string serial = line.substr(t3 + 1, t4 == std::string::npos ? t4 : t4 - t3 - 1);
            *tail
                = new HidDeviceEntry { copyString(line.substr(0, t1)), vendor, product, wideFromUtf8(serial),
                      0, nullptr, t4 == std::string::npos ? nullptr : copyString(line.substr(t4 + 1)) };
            tail = &(*tail)->next;
            ++listed;
        }
    }
    delete connection;
    return first;
}

// The bus has no device node to lock: the lock is a file named after the device's path and the
// bus it is on (a hash of the socket's path), so that two buses of simulated devices are two sets of
// devices, as they are to the updaters that use them.
std::string deviceLockName(const char* path)
{
    const std::string bus = BusConnection::canonicalName(currentPath());
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
    const DeviceLock::Handle lock = DeviceLock::lockNamed(deviceLockName(path));
    if (lock == DeviceLock::none) {
        if (errno != EBUSY)
            errno = EIO;
        return nullptr;
    }
    BusConnection* connection = connectToBus();
    if (!connection) {
        const int reason = errno;
        DeviceLock::unlock(lock);
        errno = reason;
        return nullptr;
    }
    connection->setSendBuffer(clientSendBuffer);
    const std::string request = std::string("OPEN ") + path + "\n";
    std::string reply;
    if (!connection->sendAll(request.data(), request.size(), lineTimeoutMs) || !readLine(*connection, reply)
        || reply != "OK") {
        delete connection;
        DeviceLock::unlock(lock);
        // The bus names the reason as the kernel would give it.
        errno = reply.rfind("ERR permission", 0) == 0   ? EACCES
            : reply.rfind("ERR no such device", 0) == 0 ? ENOENT
                                                        : EIO;
        return nullptr;
    }
    auto* device = new HidDevice;
    device->connection = connection;
    device->lock = lock;
    return device;
}

int writeReport(HidDevice* device, const unsigned char* data, size_t length)
{
    if (!device || !device->connection || length != outputReportSize)
        return -1;
    // A device that hung up takes no more reports.
    if (device->connection->peerHungUp())
        return -1;
    // A report the device does not take in time is lost; the rest of it must not follow later as
    // the start of another, so the connection is given up.
    if (device->connection->sendAll(data, length, writeTimeoutMs))
        return int(length);
    device->connection->shutDown();
    return -1;
}

int readReport(HidDevice* device, unsigned char* data, size_t length, int milliseconds)
{
    if (!device || !device->connection)
        return -1;
    // One deadline for the whole read: a report arriving in pieces does not earn each piece the
    // full time-out again.
    const Clock::time_point deadline
        = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    while (device->pendingLength < inputReportSize) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // A device that hung up takes its queued reports with it: hidraw fails the read however
        // much was still waiting, and so does the bus.
        const BusConnection::Wait wait
            = device->connection->waitReadable(milliseconds < 0 ? -1 : (left > 0 ? int(left) : 0), true);
        if (wait == BusConnection::Wait::Failed)
            return -1;
        if (wait == BusConnection::Wait::TimedOut)
            return 0; // a partial report stays pending for the next read
        const long got = device->connection->receive(
            device->pending + device->pendingLength, inputReportSize - device->pendingLength);
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
    delete device->connection;
    DeviceLock::unlock(device->lock);
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
