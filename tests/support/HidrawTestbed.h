#pragma once

#include "SimulatedDevice.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace PelkPlus {

// What the kernel makes of a device of the family on USB, in a umockdev testbed: the usb_device,
// its HID interfaces, their hid devices and hidraw nodes, laid out as sysfs has them, so that the
// real hidapi and libudev find, open, write and read them. The node's reads, writes and ioctls are
// answered by a SimulatedDevice, the same judge the virtual bus serves: the first interface carries
// the update protocol, further interfaces take reports and answer nothing.
//
// The testbed runs a GLib main loop on a thread of its own; every call below may come from any
// thread, and the observer runs on the testbed's thread, where it may call back in (to unplug at an
// exact point of a transfer). The process must run under umockdev's preload library (see
// UmockdevPreload); programs started by the test see the testbed through environment().
class HidrawTestbed
{
public:
    // What happened on a device's update interface, for the observer.
    enum class Stage {
        // hid_open_path asked the node's descriptor size: the program has just opened it.
        Opened,
        // The device took an output report and queued its replies, if any.
        ReportTaken,
    };
    using Observer
        = std::function<void(HidrawTestbed& testbed, int index, Stage stage, const QByteArray& report)>;

    // How the interfaces describe themselves.
    struct Layout
    {
        // Collections nested in the update interface's report descriptor, each with a usage of its
        // own: hidapi 0.13.1 lists the node once per usage.
        int nestedCollections = 0;
    };

    // How long a write waits for a device that takes no reports before it fails, as usbhid's
    // interrupt transfer does.
    static constexpr int writeTimeoutMs = 5000;

    HidrawTestbed();
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    bool isValid() const;
    QString errorString() const;
    // The testbed's root, what UMOCKDEV_DIR names.
    QString rootDir() const;
    // LD_PRELOAD and UMOCKDEV_DIR for a program that is to see this testbed.
    QStringList environment() const;

    // Adds a device, plugged in; returns its index. settings.interfaces HID interfaces are made.
    int addDevice(const SimulatedDeviceSettings& settings, const Layout& layout);
    int addDevice(const SimulatedDeviceSettings& settings) { return addDevice(settings, Layout()); }
    // "/dev/hidrawN" of the device's update interface; empty while unplugged.
    QString nodePath(int index) const;
    // Every node number the device's update interface has had, in order.
    QList<int> nodeNumbers(int index) const;
    bool isPlugged(int index) const;

    void plug(int index);
    // As pulling the cable: the nodes go at once, queued replies are lost, blocked reads return and
    // later reads and writes fail.
    void unplug(int index);
    // Unplugs at once and plugs in again after the device's reboot time.
    void powerCycle(int index);
    // A device that stops taking reports: writes wait, then fail after writeTimeoutMs.
    void setTakingReports(int index, bool taking);

    void setObserver(Observer observer);
    // Runs f on the testbed's thread after ms milliseconds: an unplug in the middle of a wait.
    void later(int ms, std::function<void()> f);

    // A copy of the device's state.
    SimulatedDevice device(int index) const;
    // How many times a program opened the device's update interface.
    int openCount(int index) const;
    // Output reports the device took since it was added, update interface only.
    int reportsTaken(int index) const;
    QStringList events() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace PelkPlus
