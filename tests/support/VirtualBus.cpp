#include "support/VirtualBus.h"

#include "device/HidBackend.h"
#include "device/VirtualBusBackend.h"

#include <QMetaObject>

#include <future>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace PelkPlus {

namespace {
// Held by a caller of run while it posts its call; taken by the call before it reads anything the
// caller made, captures included, which is why it is no member.
std::mutex handOverLock;
} // namespace

VirtualBus::VirtualBus()
    : dir(QStringLiteral("/tmp/pelk-bus-XXXXXX"))
{
    // Windows has no Unix sockets: the bus is served on a free port of loopback there, as
    // pelk-devsim serves a Windows updater; PELK_TEST_BUS=tcp does the same on Linux.
#if defined(Q_OS_WIN)
    const bool overTcp = true;
#else
    const bool overTcp = qEnvironmentVariable("PELK_TEST_BUS") == QLatin1String("tcp");
#endif
    socketFile = overTcp ? QStringLiteral("tcp:127.0.0.1:0") : dir.path() + QStringLiteral("/bus");
    thread.setObjectName(QStringLiteral("virtual bus"));
    thread.start();
#if defined(__SANITIZE_THREAD__)
    // The bus thread is joined inside Qt, out of ThreadSanitizer's sight: everything the thread did
    // is published when it finishes and taken up by the destructor after the join.
    QObject::connect(
        &thread, &QThread::finished, &thread, [this] { __tsan_release(this); }, Qt::DirectConnection);
#endif
    deviceBus = new DeviceBus;
    deviceBus->moveToThread(&thread);
    run([this](DeviceBus& bus) {
        QObject::connect(&bus, &DeviceBus::event, &bus, [this](const QString& line) {
            std::lock_guard<std::mutex> locker(eventsLock);
            eventLog.append(line);
        });
        bus.listen(socketFile);
        socketFile = bus.socketPath();
    });
    setHidBackend(virtualBusBackend(socketFile.toLocal8Bit().constData()));
}

VirtualBus::~VirtualBus()
{
    setHidBackend(nullptr);
    QMetaObject::invokeMethod(
        deviceBus, [this] { delete deviceBus; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(this);
#endif
}

void VirtualBus::run(const std::function<void(DeviceBus&)>& f)
{
    // Handed over under a standard mutex and waited for through a promise, not a blocking queued
    // call: ThreadSanitizer sees those hand-overs, and not the ones inside Qt's event queue.
    std::promise<void> done;
    std::unique_lock<std::mutex> handOver(handOverLock);
    QMetaObject::invokeMethod(deviceBus, [this, &f, &done] {
        {
            std::lock_guard<std::mutex> received(handOverLock);
        }
        f(*deviceBus);
        done.set_value();
    });
    handOver.unlock();
    done.get_future().wait();
}

int VirtualBus::addDevice(const SimulatedDeviceSettings& settings)
{
    int index = -1;
    run([&](DeviceBus& bus) { index = bus.addDevice(settings); });
    return index;
}

SimulatedDevice VirtualBus::device(int index)
{
    SimulatedDevice copy;
    run([&](DeviceBus& bus) { copy = bus.device(index); });
    return copy;
}

QStringList VirtualBus::events() const
{
    std::lock_guard<std::mutex> locker(eventsLock);
    return eventLog;
}

} // namespace PelkPlus
