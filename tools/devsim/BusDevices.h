#pragma once

#include "SimulatedDevice.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <vector>

class QTimer;

namespace PelkPlus {

// The simulated devices on a bus and their comings and goings: whether each is plugged in and
// since when, unplugging, power cycles, the reboots the devices ask for and their return
// afterwards, and the quiet periods that complete their transfers. Bus time runs from the moment
// this is made; the devices are stamped with it.
class BusDevices : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BusDevices)

public:
    explicit BusDevices(QObject* parent = nullptr);
    ~BusDevices() override;

    // Adds a device, plugged in; returns its index.
    int add(const SimulatedDevice::Settings& settings);
    int count() const { return int(entries.size()); }
    SimulatedDevice& device(int index);
    bool isPlugged(int index) const;

    void plug(int index);
    void unplug(int index);
    // Unplugs at once and plugs again after the device's reboot time, whether or not it wanted to.
    void powerCycle(int index);
    // Does what a device asked after a report or a quiet period.
    void handleRequest(int index, SimulatedDevice::Request request);

    // The answer to an enumeration: a line per interface of each plugged device (path, vendor and
    // product IDs, serial number), each as often as the device has it listed, and an empty line.
    QByteArray enumeration() const;
    // The plugged device and its interface at path; false when there is none.
    bool find(const QString& path, int* index, int* interfaceIndex) const;
    // Whether the device, so soon after it appeared, still refuses to be opened.
    bool refusesOpen(int index) const;

    const QElapsedTimer& clock() const { return busClock; }

signals:
    void event(const QString& line);
    // The device left the bus; its connections are to close, as pulling the cable closes them.
    void unplugged(int index);

private:
    struct Entry;

    void tickIdle();

    QTimer* idleTimer = nullptr;
    QElapsedTimer busClock;
    std::vector<std::unique_ptr<Entry>> entries;
};

} // namespace PelkPlus
