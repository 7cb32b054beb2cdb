#include "BusDevices.h"

#include "device/FirmwareVersion.h"

#include <QTimer>

namespace PelkPlus {

namespace {

// The path of an interface: the device's own for the first, with the interface's number after it
// for the others.
QString interfacePath(const SimulatedDevice::Settings& s, int interfaceIndex)
{
    return interfaceIndex == 0 ? s.path : QStringLiteral("%1:%2").arg(s.path).arg(interfaceIndex);
}

} // namespace

struct BusDevices::Entry
{
    SimulatedDevice device;
    bool plugged = true;
    // Bus time at which the device last appeared.
    qint64 appearedAtMs = 0;
    QTimer* returnTimer = nullptr;
};

BusDevices::BusDevices(QObject* parent)
    : QObject(parent)
    , idleTimer(new QTimer(this))
{
    busClock.start();
    idleTimer->setInterval(100);
    connect(idleTimer, &QTimer::timeout, this, &BusDevices::tickIdle);
    idleTimer->start();
}

BusDevices::~BusDevices() = default;

int BusDevices::add(const SimulatedDevice::Settings& settings)
{
    auto entry = std::make_unique<Entry>();
    entry->device = SimulatedDevice(settings);
    entry->device.setLog([this](const QString& line) { emit event(line); });
    entry->appearedAtMs = busClock.elapsed();
    entry->returnTimer = new QTimer(this);
    entry->returnTimer->setSingleShot(true);
    const int index = int(entries.size());
    connect(entry->returnTimer, &QTimer::timeout, this, [this, index] {
        Entry& e = *entries[size_t(index)];
        e.device.restarted();
        if (!e.device.settings().returnPath.isEmpty())
            e.device.settings().path = e.device.settings().returnPath;
        plug(index);
    });
    entries.push_back(std::move(entry));
    emit event(QStringLiteral("device %1 added: %2 at %3, serial %4")
                   .arg(index)
                   .arg(QLatin1String(modelName(settings.model)), settings.path, settings.serialNumber));
    return index;
}

SimulatedDevice& BusDevices::device(int index)
{
    return entries.at(size_t(index))->device;
}

bool BusDevices::isPlugged(int index) const
{
    return entries.at(size_t(index))->plugged;
}

void BusDevices::plug(int index)
{
    Entry& entry = *entries.at(size_t(index));
    entry.returnTimer->stop();
    if (entry.plugged)
        return;
    entry.plugged = true;
    entry.appearedAtMs = busClock.elapsed();
    const SimulatedDevice::Settings& s = entry.device.settings();
    emit event(QStringLiteral("%1: plugged in (MCU %2, DSP %3, Styles 0x%4, Ensemble Audio 0x%5)")
                   .arg(s.path)
                   .arg(FirmwareVersion::fromWord(s.mcuWord).toString(),
                       FirmwareVersion::fromWord(s.dspWord).toString())
                   .arg(s.stylesVersion, 0, 16)
                   .arg(s.ensembleVersion, 0, 16));
}

void BusDevices::unplug(int index)
{
    Entry& entry = *entries.at(size_t(index));
    entry.returnTimer->stop();
    if (!entry.plugged)
        return;
    entry.plugged = false;
    emit unplugged(index);
    emit event(QStringLiteral("%1: unplugged").arg(entry.device.settings().path));
}

void BusDevices::powerCycle(int index)
{
    Entry& entry = *entries.at(size_t(index));
    emit event(QStringLiteral("%1: power cycle").arg(entry.device.settings().path));
    unplug(index);
    entry.returnTimer->start(entry.device.settings().rebootMs);
}

void BusDevices::handleRequest(int index, SimulatedDevice::Request request)
{
    Entry& entry = *entries[size_t(index)];
    const SimulatedDevice::Settings& s = entry.device.settings();
    if (request == SimulatedDevice::Request::Unplug) {
        unplug(index);
    } else if (request == SimulatedDevice::Request::Reboot) {
        emit event(QStringLiteral("%1: rebooting").arg(s.path));
        // Let the host's last writes land before the device drops off.
        QTimer::singleShot(50, this, [this, index] {
            Entry& e = *entries[size_t(index)];
            unplug(index);
            if (e.device.settings().comeBackAfterReboot)
                e.returnTimer->start(e.device.settings().rebootMs);
            else
                emit event(QStringLiteral("%1: does not come back").arg(e.device.settings().path));
        });
    }
}

QByteArray BusDevices::enumeration() const
{
    QByteArray answer;
    for (size_t index = 0; index < entries.size(); ++index) {
        const auto& entry = entries[index];
        if (!entry->plugged)
            continue;
        const SimulatedDevice::Settings& s = entry->device.settings();
        QByteArray port = s.portPath.isEmpty() ? "sim-port-" + QByteArray::number(qulonglong(index) + 1)
                                               : s.portPath.toUtf8();
        if (port == "-")
            port.clear();
        for (int i = 0; i < s.interfaces; ++i) {
            const QByteArray line = interfacePath(s, i).toUtf8() + '\t'
                + QByteArray::number(pelkVendorId, 16).rightJustified(4, '0') + '\t'
                + QByteArray::number(productIdForModel(s.model), 16).rightJustified(4, '0') + '\t'
                + s.serialNumber.toUtf8() + (port.isEmpty() ? QByteArray() : '\t' + port) + '\n';
            for (int copy = 0; copy < qMax(1, s.duplicateEntries); ++copy)
                answer += line;
        }
    }
    answer += '\n';
    return answer;
}

bool BusDevices::find(const QString& path, int* index, int* interfaceIndex) const
{
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = *entries[i];
        const SimulatedDevice::Settings& s = entry.device.settings();
        for (int number = 0; number < s.interfaces && entry.plugged; ++number) {
            if (interfacePath(s, number) == path) {
                *index = int(i);
                *interfaceIndex = number;
                return true;
            }
        }
    }
    return false;
}

bool BusDevices::refusesOpen(int index) const
{
    const Entry& entry = *entries.at(size_t(index));
    return busClock.elapsed() - entry.appearedAtMs < entry.device.settings().refuseOpenMs;
}

void BusDevices::tickIdle()
{
    const qint64 now = busClock.elapsed();
    for (size_t index = 0; index < entries.size(); ++index) {
        if (!entries[index]->plugged)
            continue;
        handleRequest(int(index), entries[index]->device.idle(now));
    }
}

} // namespace PelkPlus
