#pragma once

#include "DeviceBus.h"

#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <mutex>

namespace PelkPlus {

// The virtual HID bus served from inside the test process, on a thread of its own so that the
// blocking link calls of the test's thread find a live device. Installs itself as the HID backend.
class VirtualBus
{
public:
    VirtualBus();
    ~VirtualBus();

    QString socketPath() const { return socketFile; }

    // Runs f on the bus's thread with the bus, waiting until it has run.
    void run(const std::function<void(DeviceBus&)>& f);
    int addDevice(const SimulatedDeviceSettings& settings);
    // A copy of the device's state, taken on the bus's thread.
    SimulatedDevice device(int index);
    QStringList events() const;

private:
    QTemporaryDir dir;
    QString socketFile;
    QThread thread;
    DeviceBus* deviceBus = nullptr;
    QObject* recorder = nullptr;
    mutable std::mutex eventsLock;
    QStringList eventLog;
};

} // namespace PelkPlus
