#include "support/FakeHidBackend.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace PelkPlus {

namespace {
std::atomic<FakeHidBackend*> installed { nullptr };

constexpr unsigned headerRequestCommand = 0x000A;
constexpr unsigned readyQueryCommand = 0x0012;

char* copyPath(const QByteArray& path)
{
    auto* copy = new char[path.size() + 1];
    std::memcpy(copy, path.constData(), path.size() + 1);
    return copy;
}

wchar_t* copySerial(const QString& serial)
{
    if (serial.isNull())
        return nullptr;
    auto* copy = new wchar_t[serial.size() + 1];
    const int length = serial.toWCharArray(copy);
    copy[length] = 0;
    return copy;
}

void sleepFor(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

FakeHidBackend* current()
{
    FakeHidBackend* backend = installed.load();
    Q_ASSERT(backend);
    return backend;
}
} // namespace

struct FakeHidBackend::DeviceState
{
    DeviceScript script;
    int opens = 0;
    int attempts = 0;
    int readyQueries = 0;
    int readyAnswered = 0;
    QList<QByteArray> writes;
};

// What hides behind a HidDevice pointer handed out by this backend.
struct FakeHidBackend::OpenDevice
{
    QByteArray path;
    unsigned pendingCommand = 0;
};

FakeHidBackend::FakeHidBackend()
{
    installed.store(this);
    setHidBackend(table());
}

FakeHidBackend::~FakeHidBackend()
{
    setHidBackend(nullptr);
    installed.store(nullptr);
}

const HidBackend* FakeHidBackend::table() const
{
    static const HidBackend functions = {
        "fake",
        &FakeHidBackend::enumerate,
        &FakeHidBackend::freeEnumeration,
        &FakeHidBackend::openPath,
        &FakeHidBackend::write,
        &FakeHidBackend::readTimeout,
        &FakeHidBackend::close,
    };
    return &functions;
}

void FakeHidBackend::plug(
    const QByteArray& path, unsigned short productId, const QString& serialNumber, unsigned short vendorId)
{
    std::lock_guard<std::mutex> lock(mutex);
    interfaces.append(Interface { path, productId, serialNumber, vendorId });
}

void FakeHidBackend::unplug(const QByteArray& path)
{
    std::lock_guard<std::mutex> lock(mutex);
    interfaces.erase(std::remove_if(interfaces.begin(), interfaces.end(),
                         [&path](const Interface& entry) { return entry.path == path; }),
        interfaces.end());
}

void FakeHidBackend::setInterfaces(const QList<Interface>& replacement)
{
    std::lock_guard<std::mutex> lock(mutex);
    interfaces = replacement;
}

void FakeHidBackend::setScript(const QByteArray& path, const DeviceScript& script)
{
    std::lock_guard<std::mutex> lock(mutex);
    stateFor(path).script = script;
}

FakeHidBackend::DeviceState& FakeHidBackend::stateFor(const QByteArray& path)
{
    std::unique_ptr<DeviceState>& state = devices[path];
    if (!state)
        state = std::make_unique<DeviceState>();
    return *state;
}

int FakeHidBackend::enumerationCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return enumerations;
}

int FakeHidBackend::openCount(const QByteArray& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = devices.find(path);
    return found == devices.end() ? 0 : found->second->opens;
}

int FakeHidBackend::openAttempts(const QByteArray& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = devices.find(path);
    return found == devices.end() ? 0 : found->second->attempts;
}

int FakeHidBackend::callsOpenToInterrupts() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return openToInterrupts;
}

void FakeHidBackend::noteSignalMask()
{
#if defined(_WIN32)
    // No signal masks: a console's interruption comes on a thread of its own.
#else
    sigset_t mask;
    sigemptyset(&mask);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    if (!sigismember(&mask, SIGINT) || !sigismember(&mask, SIGTERM))
        ++openToInterrupts;
#endif
}

int FakeHidBackend::openHandles() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return handles;
}

int FakeHidBackend::readyQueryCount(const QByteArray& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = devices.find(path);
    return found == devices.end() ? 0 : found->second->readyQueries;
}

QList<QByteArray> FakeHidBackend::writtenReports(const QByteArray& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = devices.find(path);
    return found == devices.end() ? QList<QByteArray>() : found->second->writes;
}

bool FakeHidBackend::waitForWrites(const QByteArray& path, int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return written.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        const auto found = devices.find(path);
        return found != devices.end() && found->second->writes.size() >= count;
    });
}

QByteArray FakeHidBackend::headerReplyBytes(
    quint16 mcuWord, quint16 dspWord, quint16 styles, quint32 ensemble, quint16 tag)
{
    QByteArray reply(64, '\0');
    reply[0] = char(0xDB);
    reply[1] = char(0x03);
    reply[2] = char(0x09);
    reply[10] = char(ensemble & 0xFF);
    reply[11] = char((ensemble >> 8) & 0xFF);
    reply[12] = char((ensemble >> 16) & 0xFF);
    reply[14] = char((ensemble >> 24) & 0xFF);
    reply[15] = char(styles & 0xFF);
    reply[16] = char(styles >> 8);
    reply[18] = char(dspWord & 0xFF);
    reply[19] = char(dspWord >> 8);
    reply[20] = char(mcuWord & 0xFF);
    reply[21] = char(mcuWord >> 8);
    reply[22] = char(tag & 0xFF);
    reply[23] = char(tag >> 8);
    return reply;
}

unsigned FakeHidBackend::commandOf(const QByteArray& report)
{
    if (report.size() < 5)
        return 0;
    return unsigned(quint8(report[3])) | unsigned(quint8(report[4])) << 8;
}

HidDeviceEntry* FakeHidBackend::enumerate(unsigned short vendorId, unsigned short productId)
{
    FakeHidBackend* self = current();
    std::lock_guard<std::mutex> lock(self->mutex);
    ++self->enumerations;
    self->noteSignalMask();
    HidDeviceEntry* first = nullptr;
    HidDeviceEntry** tail = &first;
    for (const Interface& entry : qAsConst(self->interfaces)) {
        if ((vendorId && entry.vendorId != vendorId) || (productId && entry.productId != productId))
            continue;
        *tail = new HidDeviceEntry { copyPath(entry.path), entry.vendorId, entry.productId,
            copySerial(entry.serialNumber), entry.usagePage, nullptr, nullptr };
        tail = &(*tail)->next;
    }
    return first;
}

void FakeHidBackend::freeEnumeration(HidDeviceEntry* entries)
{
    while (entries) {
        HidDeviceEntry* next = entries->next;
        delete[] entries->path;
        delete[] entries->serialNumber;
        delete entries;
        entries = next;
    }
}

HidDevice* FakeHidBackend::openPath(const char* path)
{
    FakeHidBackend* self = current();
    std::lock_guard<std::mutex> lock(self->mutex);
    const QByteArray wanted(path);
    const bool present = std::any_of(self->interfaces.cbegin(), self->interfaces.cend(),
        [&wanted](const Interface& entry) { return entry.path == wanted; });
    DeviceState& state = self->stateFor(wanted);
    self->noteSignalMask();
    ++state.attempts;
    if (present && (state.script.deniedOpens < 0 || state.attempts <= state.script.deniedOpens)) {
        errno = EACCES;
        return nullptr;
    }
    if (!present || state.script.openFails) {
        errno = present ? EIO : ENOENT;
        return nullptr;
    }
    ++state.opens;
    ++self->handles;
    auto* device = new OpenDevice;
    device->path = wanted;
    return reinterpret_cast<HidDevice*>(device);
}

int FakeHidBackend::write(HidDevice* handle, const unsigned char* data, size_t length)
{
    FakeHidBackend* self = current();
    auto* device = reinterpret_cast<OpenDevice*>(handle);
    int delayMs = 0;
    bool fails = false;
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->noteSignalMask();
        DeviceState& state = self->stateFor(device->path);
        const QByteArray report(reinterpret_cast<const char*>(data), int(length));
        const int index = state.writes.size();
        state.writes.append(report);
        fails = state.script.failWritesFrom >= 0 && index >= state.script.failWritesFrom;
        delayMs = state.script.writeDelayMs;
        if (!fails) {
            device->pendingCommand = commandOf(report);
            if (device->pendingCommand == readyQueryCommand)
                ++state.readyQueries;
        }
    }
    self->written.notify_all();
    sleepFor(delayMs);
    return fails ? -1 : int(length);
}

int FakeHidBackend::readTimeout(HidDevice* handle, unsigned char* data, size_t length, int milliseconds)
{
    FakeHidBackend* self = current();
    auto* device = reinterpret_cast<OpenDevice*>(handle);
    int timeoutDelayMs = 0;
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->noteSignalMask();
        const bool present = std::any_of(self->interfaces.cbegin(), self->interfaces.cend(),
            [device](const Interface& entry) { return entry.path == device->path; });
        if (!present)
            return -1;
        DeviceState& state = self->stateFor(device->path);
        const unsigned command = device->pendingCommand;
        device->pendingCommand = 0;
        timeoutDelayMs = qMin(state.script.timeoutDelayMs, milliseconds);
        QByteArray reply;
        Answer answer = Answer::Timeout;
        if (command == headerRequestCommand) {
            answer = state.script.headerAnswer;
            reply = state.script.headerReply;
        } else if (command == readyQueryCommand) {
            answer = state.script.readyAnswer;
            const int index = state.readyAnswered++;
            const int flag = index < state.script.readyFlags.size() ? state.script.readyFlags.at(index)
                                                                    : state.script.finalReady;
            if (flag == readyTimesOut)
                answer = Answer::Timeout;
            else if (flag == readyFails)
                answer = Answer::Failure;
            reply = QByteArray(64, '\0');
            reply[0] = char(0xDB);
            reply[1] = char(0x03);
            reply[2] = char(0x13);
            reply[8] = char(0x0B);
            reply[10] = char(flag);
        }
        if (answer == Answer::Failure)
            return -1;
        if (answer == Answer::Reply) {
            const size_t count = std::min(length, size_t(reply.size()));
            std::memcpy(data, reply.constData(), count);
            return int(count);
        }
    }
    sleepFor(timeoutDelayMs);
    return 0;
}

void FakeHidBackend::close(HidDevice* handle)
{
    FakeHidBackend* self = current();
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        --self->handles;
    }
    delete reinterpret_cast<OpenDevice*>(handle);
}

} // namespace PelkPlus
