// How close an update of the four components comes to what the protocol allows when the device
// takes one report per millisecond: once through real hidapi against an emulated hidraw node, once
// over the virtual bus. The floor is one millisecond per packet plus the 2.1 s write pause of
// every flash sector; each transfer's time is printed against it as a ratio.
#include "device/DeviceLink.h"
#include "device/HidBackend.h"
#include "device/HidapiBackend.h"
#include "support/HidrawTestbed.h"
#include "support/TestFiles.h"
#include "support/UmockdevPreload.h"
#include "support/UpdateCatalogue.h"
#include "support/VirtualBus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>

using namespace PelkPlus;

namespace {

constexpr int sectorSize = 65536;
constexpr double sectorPauseMs = 2100;

struct Component
{
    const char* name;
    LinkResult (*transfer)(DeviceLink*, const char*, const ProgressHandler*);
    QString path;
    int sectors; // 0 for the firmware streams
};

// What one bus must provide: the device's update interface, and the reports it took with the
// time it took the last one (nanoseconds of the steady clock).
struct Bus
{
    const char* name;
    std::function<QByteArray()> path;
    std::function<bool()> plugged;
    std::function<int()> installs;
    std::atomic<int> reports { 0 };
    std::atomic<qint64> lastReportNs { 0 };

    void took()
    {
        lastReportNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
                           .count();
        ++reports;
    }
};

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Totals
{
    double ms = 0;
    double floorMs = 0;
};

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

bool runUpdate(Bus& bus, const QList<Component>& components, Totals* totals)
{
    for (const Component& component : components) {
        int error = 0;
        DeviceLink* link = openLink(bus.path().constData(), Plus, 2000, &error);
        if (!link) {
            std::fprintf(stderr, "%s: cannot open the device (%d)\n", bus.name, error);
            return false;
        }
        const int installsBefore = bus.installs();
        const int before = bus.reports;
        const qint64 startNs = nowNs();
        const LinkResult result = component.transfer(link, component.path.toLocal8Bit().constData(), nullptr);
        // The stream ends when the device has taken its last report, which on the virtual bus can
        // be after the host's last write returned; closing the link earlier would lose it.
        if (result == 0 && !waitFor([&] { return bus.installs() > installsBefore; }, 10000)) {
            std::fprintf(stderr, "%s: %s was not installed\n", bus.name, component.name);
            return false;
        }
        const double ms = (bus.lastReportNs - startNs) / 1e6;
        const int packets = bus.reports - before;
        closeLink(link);
        const double floorMs = packets + component.sectors * sectorPauseMs;
        std::fprintf(stderr, "%-12s %-15s result %2d, %6d packets in %8.1f ms, floor %8.1f ms, ratio %.4f\n",
            bus.name, component.name, result, packets, ms, floorMs, ms / floorMs);
        totals->ms += ms;
        totals->floorMs += floorMs;
        if (result != 0)
            return false;
        // The device installs, reboots and comes back before the next component.
        if (!waitFor([&] { return !bus.plugged(); }, 5000)
            || !waitFor([&] { return bus.plugged(); }, 10000)) {
            std::fprintf(stderr, "%s: the device did not reboot after %s\n", bus.name, component.name);
            return false;
        }
    }
    return true;
}

SimulatedDeviceSettings pacedPlus()
{
    SimulatedDeviceSettings settings;
    settings.model = Plus;
    settings.paced = true;
    settings.rebootMs = 500;
    return settings;
}

} // namespace

int main(int argc, char** argv)
{
    UmockdevPreload::ensure(argv);
    QCoreApplication application(argc, argv);
    // The preload sleeps briefly in every emulated call; with the default timer slack those naps
    // alone come near a frame. The device link runs on this thread.
    prctl(PR_SET_TIMERSLACK, 1UL);
    QTemporaryDir dir;
    const int stylesSectors = 2;
    const int ensembleSectors = 3;
    const QList<Component> components {
        { "MCU firmware", sendMcuFirmware,
            writeFile(
                dir, QStringLiteral("mcu.bin"), UpdateCatalogue::image(200000, QStringLiteral("3.3.0"), 1)),
            0 },
        { "DSP firmware", sendDspFirmware,
            writeFile(dir, QStringLiteral("dsp.txt"),
                UpdateCatalogue::dspText(UpdateCatalogue::image(50000, QStringLiteral("3.2.0"), 2))),
            0 },
        { "Styles", sendStyles,
            writeFile(dir, QStringLiteral("styles.bin"),
                UpdateCatalogue::image(stylesSectors * sectorSize - 1000, QStringLiteral("0x0300"), 3)),
            stylesSectors },
        { "Ensemble", sendEnsembleAudio,
            writeFile(dir, QStringLiteral("ensemble.bin"),
                UpdateCatalogue::image(ensembleSectors * sectorSize - 1000, QStringLiteral("0x00030000"), 4)),
            ensembleSectors },
    };
    // The link's own trace would dominate the timing on a terminal.
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);

    QList<QPair<QByteArray, Totals>> results;
    if (UmockdevPreload::active()) {
        HidrawTestbed testbed;
        setHidBackend(hidapiBackend());
        testbed.addDevice(pacedPlus());
        Bus bus { "hidraw", [&] { return testbed.nodePath(0).toLocal8Bit(); },
            [&] { return testbed.isPlugged(0); }, [&] { return testbed.device(0).installCount(); } };
        testbed.setObserver([&bus](HidrawTestbed&, int, HidrawTestbed::Stage stage, const QByteArray&) {
            if (stage == HidrawTestbed::Stage::ReportTaken)
                bus.took();
        });
        Totals totals;
        if (runUpdate(bus, components, &totals))
            results.append({ "hidraw", totals });
        setHidBackend(nullptr);
    } else {
        std::fprintf(stderr, "hidraw: umockdev's preload library is not installed; skipped\n");
    }
    {
        VirtualBus virtualBus;
        std::atomic<int> reports { 0 };
        virtualBus.run([&](DeviceBus& deviceBus) {
            deviceBus.setReportObserver([&reports](int, const QByteArray&) { ++reports; });
        });
        virtualBus.addDevice(pacedPlus());
        Bus bus { "virtual bus", [] { return QByteArray("sim/pelk-1"); },
            [&] {
                bool plugged = false;
                virtualBus.run([&](DeviceBus& deviceBus) { plugged = deviceBus.isPlugged(0); });
                return plugged;
            },
            [&] { return virtualBus.device(0).installCount(); } };
        virtualBus.run([&bus](DeviceBus& deviceBus) {
            deviceBus.setReportObserver([&bus](int, const QByteArray&) { bus.took(); });
        });
        Totals totals;
        if (runUpdate(bus, components, &totals))
            results.append({ "virtual bus", totals });
    }
    if (quiet)
        std::fclose(quiet);

    for (const auto& result : results) {
        std::fprintf(stderr,
            "%-12s four components: %.1f s against a floor of %.1f s, ratio %.4f (goal <= 1.02)\n",
            result.first.constData(), result.second.ms / 1000, result.second.floorMs / 1000,
            result.second.ms / result.second.floorMs);
    }
    return results.size() == 2 ? 0 : 1;
}
