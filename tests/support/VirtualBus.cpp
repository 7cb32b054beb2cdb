#include "support/VirtualBus.h"

#include "device/HidBackend.h"
#include "device/VirtualBusBackend.h"

#include <QMetaObject>
#include <QMutex>

namespace PelkPlus {

VirtualBus::VirtualBus()
    : m_dir(QStringLiteral("/tmp/pelk-bus-XXXXXX"))
    , m_eventsLock(new QMutex)
{
    m_socketPath = m_dir.path() + QStringLiteral("/bus");
    m_thread.setObjectName(QStringLiteral("virtual bus"));
    m_thread.start();
    m_bus = new DeviceBus;
    m_bus->moveToThread(&m_thread);
    run([this](DeviceBus& bus) {
        QObject::connect(&bus, &DeviceBus::event, &bus, [this](const QString& line) {
            QMutexLocker locker(m_eventsLock);
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
    delete m_eventsLock;
}

void VirtualBus::run(const std::function<void(DeviceBus&)>& f)
{
    QMetaObject::invokeMethod(
        m_bus, [this, &f] { f(*m_bus); }, Qt::BlockingQueuedConnection);
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
    QMutexLocker locker(m_eventsLock);
    return m_events;
}

} // namespace PelkPlus
