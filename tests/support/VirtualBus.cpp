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
    : m_dir(QStringLiteral("/tmp/pelk-bus-XXXXXX"))
{
    m_socketPath = m_dir.path() + QStringLiteral("/bus");
    m_thread.setObjectName(QStringLiteral("virtual bus"));
    m_thread.start();
#if defined(__SANITIZE_THREAD__)
    // The bus thread is joined inside Qt, out of ThreadSanitizer's sight: everything the thread did
    // is published when it finishes and taken up by the destructor after the join.
    QObject::connect(
        &m_thread, &QThread::finished, &m_thread, [this] { __tsan_release(this); }, Qt::DirectConnection);
#endif
    m_bus = new DeviceBus;
    m_bus->moveToThread(&m_thread);
    run([this](DeviceBus& bus) {
        QObject::connect(&bus, &DeviceBus::event, &bus, [this](const QString& line) {
            std::lock_guard<std::mutex> locker(m_eventsLock);
            m_events.append(line);
        });
        bus.listen(m_socketPath);
    });
    setHidBackend(virtualBusBackend(m_socketPath.toLocal8Bit().constData()));
}

VirtualBus::~VirtualBus()
{
    setHidBackend(nullptr);
    QMetaObject::invokeMethod(
        m_bus, [this] { delete m_bus; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
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
    QMetaObject::invokeMethod(m_bus, [this, &f, &done] {
        {
            std::lock_guard<std::mutex> received(handOverLock);
        }
        f(*m_bus);
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
    std::lock_guard<std::mutex> locker(m_eventsLock);
    return m_events;
}

} // namespace PelkPlus
