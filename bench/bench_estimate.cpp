// How close the estimate of an update comes to the time the update takes: a Pelk+ on the virtual
// bus that takes one report per millisecond, as a full-speed USB endpoint does, is updated with
// four components (MCU 200 KB, DSP 50 KB of values, Styles 2 sectors, Ensemble Audio 3 sectors)
// through the whole workflow, from "Start Update" to its end, downloads from the loopback included.
// With an argument N the device takes one report every N ms instead: the estimate as refined from
// the first sector's rate is printed beside the planned one.
#include "support/EngineFixture.h"
#include "workflow/UpdateEstimate.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/UpdateWorkflow.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace PelkPlus;

namespace {

int run(int reportMs)
{
    EngineFixture f;
    f.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 200 * 1024);
    f.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 50 * 1024);
    f.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), 2 * 65536);
    f.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Ensemble"), QStringLiteral("0x00020014"), 3 * 65536 - 100);
    f.catalogue.publish();
    SimulatedDeviceSettings device;
    device.paced = true;
    device.reportMs = reportMs;
    f.addDevice(device);
    f.start();

    if (!f.waitForPhase(WorkflowPhase::Idle, 30000)) {
        std::fprintf(stderr, "bench_estimate: the simulated device did not become ready\n");
        return 1;
    }
    f.check();
    if (!f.waitForPhase(WorkflowPhase::Planned, 30000) || f.workflow()->plan().size() != 4) {
        std::fprintf(stderr, "bench_estimate: no plan of four components\n");
        return 1;
    }
    const UpdateEstimate estimate = f.workflow()->estimate();
    QElapsedTimer clock;
    clock.start();
    f.startUpdate();
    UpdateEstimate refined;
    QObject::connect(f.workflow()->progressClock(), &UpdateProgressClock::progressChanged, f.workflow(),
        [&f, &refined](const QString& text) {
            if (!text.isEmpty())
                refined = f.workflow()->progressClock()->estimated();
        });
    const std::optional<UpdateOutcome> outcome = f.waitForOutcome(900000);
    const double measured = clock.elapsed();
    if (!outcome || *outcome != UpdateOutcome::Done || !f.device().violations().isEmpty()) {
        std::fprintf(stderr, "bench_estimate: the update did not end well\n");
        return 1;
    }

    const char* names[] = { "MCU", "DSP", "Styles", "Ensemble" };
    std::printf("%-10s %10s %10s %10s %10s %10s\n", "component", "ready ms", "stream ms", "pauses ms",
        "reboot ms", "total ms");
    int i = 0;
    for (const UpdateEstimate::Steps& steps : estimate.components()) {
        std::printf("%-10s %10lld %10lld %10lld %10lld %10lld\n", names[qBound(0, i++, 3)],
            steps.readyCheckMs, steps.streamMs, steps.sectorPauseMs, steps.rebootMs, steps.totalMs());
    }
    const double estimated = double(estimate.totalMs());
    std::printf("estimate %.1f s (%s), measured %.1f s, ratio measured/estimate %.3f\n", estimated / 1000,
        qPrintable(estimate.text()), measured / 1000, measured / estimated);
    std::printf("refined from the first sector's rate: %.1f s (%s), ratio measured/refined %.3f\n",
        double(refined.totalMs()) / 1000, qPrintable(refined.text()), measured / double(refined.totalMs()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    TestEnvironment environment;
    QCoreApplication application(argc, argv);
    ApplicationIdentity::setNames(application);
    ConfigurationManager configuration;
    const int reportMs = argc > 1 ? qBound(1, QByteArray(argv[1]).toInt(), 100) : 1;
    return run(reportMs);
}
