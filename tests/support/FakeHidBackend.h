#pragma once

#include "device/HidBackend.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace PelkPlus {

// An in-process HID bus for tests: a scriptable list of present interfaces and, per path, how the
// device answers. Every call of the backend table may come from any thread (the monitor enumerates
// while an agent's worker talks to its device). Creating it installs it as the program's backend;
// destroying it returns to the environment's choice. One instance at a time.
class FakeHidBackend
{
public:
    // How a device answers a request that expects a reply.
    enum class Answer {
        Reply,   // the scripted reply
        Timeout, // nothing within the time-out: the read returns 0
        Failure, // the read returns -1
    };

    static constexpr int readyTimesOut = -1;
    static constexpr int readyFails = -2;

    struct DeviceScript
    {
        bool openFails = false;
        // This many attempts to open the path fail first as a node not yet open to this account
        // would (errno EACCES); -1 every one.
        int deniedOpens = 0;
        Answer headerAnswer = Answer::Reply;
        QByteArray headerReply = headerReplyBytes();
        // Ready flags answered to ready queries in turn; once used up, finalReady is answered.
        // readyTimesOut and readyFails in the list make that one query time out or fail.
        QList<int> readyFlags;
        int finalReady = 0;
        Answer readyAnswer = Answer::Reply;
        // The write with this index (0 is the header request) and every later one fail; -1 never.
        int failWritesFrom = -1;
        // Time each write takes, to make transfers long enough to be interrupted.
        int writeDelayMs = 0;
        // Time a read that times out takes (never more than the caller's time-out).
        int timeoutDelayMs = 10;
    };

    FakeHidBackend();
    ~FakeHidBackend();

    // Adds an interface to the bus, in enumeration order. productId 0x0042 is a Pelk, 0x0043 a Pelk+.
    void plug(const QByteArray& path, unsigned short productId, const QString& serialNumber = QString(),
        unsigned short vendorId = 0x1210);
    // Removes the interface from the bus; handles open on it stay valid but their reads fail.
    void unplug(const QByteArray& path);
    // Replaces the whole bus in one step, as seen by the next enumeration.
    struct Interface
    {
        QByteArray path;
        unsigned short productId;
        QString serialNumber;
        unsigned short vendorId;
        unsigned short usagePage = 0;
    };
    void setInterfaces(const QList<Interface>& interfaces);

    void setScript(const QByteArray& path, const DeviceScript& script);

    int enumerationCount() const;
    int openCount(const QByteArray& path) const;
    // Attempts to open the path, failed ones included.
    int openAttempts(const QByteArray& path) const;
    // Calls of the backend made from a thread in which SIGINT or SIGTERM was not blocked.
    int callsOpenToInterrupts() const;
    // Handles opened and not yet closed, over all paths.
    int openHandles() const;
    int readyQueryCount(const QByteArray& path) const;
    // Every report written to the path (65 bytes each, report ID first), failed writes included.
    QList<QByteArray> writtenReports(const QByteArray& path) const;
    // Blocks until at least count reports have been written to the path, or the wait times out.
    bool waitForWrites(const QByteArray& path, int count, int timeoutMs) const;

    // A header reply (64 bytes, report ID not included) carrying the given version words.
    static QByteArray headerReplyBytes(quint16 mcuWord = 0x0312, quint16 dspWord = 0x0345, quint16 styles = 0,
        quint32 ensemble = 0, quint16 tag = 0);
    // The command field (packet bytes 2-3) of a written report.
    static unsigned commandOf(const QByteArray& report);

    const HidBackend* table() const;

private:
    struct DeviceState;
    struct OpenDevice;

    DeviceState& stateFor(const QByteArray& path);
    // Counts the call when the calling thread would take SIGINT or SIGTERM; under the mutex.
    void noteSignalMask();

    static HidDeviceEntry* enumerate(unsigned short vendorId, unsigned short productId);
    static void freeEnumeration(HidDeviceEntry* entries);
    static HidDevice* openPath(const char* path);
    static int write(HidDevice* device, const unsigned char* data, size_t length);
    static int readTimeout(HidDevice* device, unsigned char* data, size_t length, int milliseconds);
    static void close(HidDevice* device);

    mutable std::mutex mutex;
    mutable std::condition_variable written;
    QList<Interface> interfaces;
    std::map<QByteArray, std::unique_ptr<DeviceState>> devices;
    int enumerations = 0;
    int handles = 0;
    int openToInterrupts = 0;
};

} // namespace PelkPlus
