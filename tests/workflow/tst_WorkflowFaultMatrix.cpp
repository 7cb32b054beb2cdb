// Every phase of an update disturbed once: the device unplugged or power-cycled in each step of its
// protocol; the catalogue server failing on the manifest, the size request and the download in each
// way a network fails; the download directory full or another account's. Each row must end where
// the workflow's failure handling says, within a bound, with the GUI thread never held longer than
// 1 s, the device holding only whole images exactly as served and none twice, and a later update
// must then work. The rows run on the engine: where it settles is told by its phase, its plan and
// whether the update it ended left something not installed. The suite prints a table of its rows at
// the end.
#include "app/ApplicationPaths.h"
#include "device/DeviceProtocol.h"
#include "support/EngineFixture.h"
#include "support/GuiStallMeter.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManager.h"
#include "workflow/UpdateWorkflow.h"

#include <QState>
#include <QtTest>

#include <atomic>
#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

namespace PelkPlus {

// One disturbance. A device fault acts after the occurrence-th report with the command, counted
// from the start of the update (command -1: at the start), once delay ms have passed. A server
// fault replaces the reply of the manifest or the MCU file for one method, made from the body it
// stands for and its own address. Anything else is set up by before, whose result undoes it.
struct Fault
{
    int command = 0;
    int occurrence = 1;
    int delay = 0;
    bool powerCycle = false;
    QString target;
    QByteArray method;
    std::function<HttpTestServer::Reply(const QByteArray&, const QUrl&)> make;
    std::function<std::function<void()>()> before;
    // Whether before acts once the plan is made rather than before the check.
    bool atStart = false;
    // A line the run must have logged.
    QString logged;
    // Shortened, so that stalls end soon; the ordinary one where a slow transfer must not end.
    int transferTimeout = 500;
};

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::Fault)

namespace PelkPlus {

namespace {

constexpr int settleBound = 10000;
// Times that the device or the protocol sets run on this run's clock.
const int rebootMs = DeviceProtocol::scaled(1200);
const char mcuPath[] = "/plus/mp-3.2.7.bin";

// Where the workflow rests, in the words of the table.
QString where(EngineFixture& f)
{
    const WorkflowPhase phase = f.workflow()->phase();
    switch (phase) {
    case WorkflowPhase::NoDevice:
    case WorkflowPhase::Connecting:
    case WorkflowPhase::NotAnswering:
        // An update that ended without its device: what was not installed is still to be told.
        return !f.outcomes.isEmpty() && f.outcomes.constLast() != UpdateOutcome::Done
            ? QStringLiteral("prompt, not installed")
            : QStringLiteral("prompt");
    case WorkflowPhase::Idle:
    case WorkflowPhase::Planned:
        return f.workflow()->plan().isEmpty() ? QStringLiteral("nothing planned") : QStringLiteral("planned");
    case WorkflowPhase::Checking:
        return QStringLiteral("checking");
    default:
        return QStringLiteral("updating: ") + phaseStatusText(phase).section(QLatin1Char('\n'), 0, 0);
    }
}

// Checked, resting again with a plan or with nothing to install, or told that the check failed.
bool checked(EngineFixture& f, int timeout)
{
    f.phases.clear();
    f.messages.clear();
    f.check();
    return waitUntil(
        [&] {
            const WorkflowPhase now = f.workflow()->phase();
            return f.told(QStringLiteral("Update Check Failure"))
                || (f.phases.contains(WorkflowPhase::Checking)
                    && (now == WorkflowPhase::Idle || now == WorkflowPhase::Planned));
        },
        timeout);
}

HttpTestServer::Reply reply(const QByteArray& body, int status = 200)
{
    HttpTestServer::Reply r;
    r.body = body;
    r.status = status;
    r.faultyAnswers = 0;
    return r;
}

const QByteArray htmlPage = "<!DOCTYPE html><html><head><title>Sign in</title></head><body>Please sign in to "
                            "use this network.</body></html>\n";

struct Outcome
{
    QString row;
    bool passed;
    qint64 settledMs;
    qint64 longestStall;
};

} // namespace

class tst_WorkflowFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }
    void row_data();
    void row();
    void cleanupTestCase();

private:
    void arm(EngineFixture& f, const Fault& fault);
    void served(EngineFixture& f, const Fault& fault);
    static QStringList holdings(EngineFixture& f);
    bool recover(EngineFixture& f);

    QList<Outcome> outcomes;
    // Set on the bus's thread once a device fault has done all it does.
    std::shared_ptr<std::atomic<bool>> acted;
};

// The device's images by catalogue entry; anything else is named as such.
QStringList tst_WorkflowFaultMatrix::holdings(EngineFixture& f)
{
    const SimulatedDevice device = f.device(0);
    const char* names[] = { "MP", "DSP", "Styles", "Ensemble" };
    QStringList held;
    for (int component = 0; component < 4; ++component) {
        if (device.installedImage(component).isEmpty())
            continue;
        const UpdateCatalogue::Entry* entry
            = f.catalogue.find(QStringLiteral("PELK+"), QLatin1String(names[component]));
        held.append(entry && device.holdsImage(component, entry->image)
                ? entry->name
                : QStringLiteral("a wrong image of ") + QLatin1String(names[component]));
    }
    return held;
}

void tst_WorkflowFaultMatrix::arm(EngineFixture& f, const Fault& fault)
{
    acted.reset();
    if (fault.command == 0)
        return;
    const auto done = acted = std::make_shared<std::atomic<bool>>(false);
    const auto act = [fault, done](DeviceBus& bus) {
        QTimer::singleShot(fault.delay, &bus, [&bus, fault, done] {
            if (fault.powerCycle) {
                bus.powerCycle(0);
                *done = true;
                return;
            }
            bus.unplug(0);
            // Unplugging again stops a restart that a reboot under way would make.
            QTimer::singleShot(DeviceProtocol::scaled(100), &bus, [&bus, done] {
                bus.unplug(0);
                *done = true;
            });
        });
    };
    f.bus->run([fault, act](DeviceBus& bus) {
        if (fault.command < 0)
            return act(bus);
        auto seen = std::make_shared<int>(0);
        bus.setReportObserver([&bus, fault, act, seen](int, const QByteArray& report) {
            const int command = quint8(report.at(4)) << 8 | quint8(report.at(3));
            if (command == fault.command && ++*seen == fault.occurrence) {
                bus.setReportObserver(nullptr);
                act(bus);
            }
        });
    });
}

// Sets the faulty reply, if the fault is one.
void tst_WorkflowFaultMatrix::served(EngineFixture& f, const Fault& fault)
{
    if (fault.target.isEmpty())
        return;
    const QString path = fault.target == QLatin1String("manifest") ? UpdateCatalogue::manifestPath()
                                                                   : QString::fromLatin1(mcuPath);
    const QByteArray body = fault.target == QLatin1String("manifest") ? f.catalogue.manifest()
                                                                      : f.catalogue.entries().first().served;
    f.server.setReply(path, fault.make(body, f.server.url(path)), fault.method);
}

// The catalogue served as it should be, the device plugged in: every component still old is
// installed, and the device then reports everything up to date.
bool tst_WorkflowFaultMatrix::recover(EngineFixture& f)
{
    for (const UpdateCatalogue::Entry& entry : f.catalogue.entries()) {
        for (const QByteArray method : { "GET", "HEAD" })
            f.server.setReply(entry.path, reply(entry.served), method);
    }
    f.server.setReply(UpdateCatalogue::manifestPath(), reply(f.catalogue.manifest()), "GET");
    f.server.setReply(UpdateCatalogue::manifestPath(), reply(f.catalogue.manifest()), "HEAD");
    // Past the second unplug of a fault, and once the monitor has seen the device gone: a device
    // back within one of its polls is never seen to have left.
    if (acted && !waitUntil([&] { return bool(*acted); }, 3000))
        return false;
    bool plugged = true;
    f.bus->run([&](DeviceBus& bus) { plugged = bus.isPlugged(0); });
    waitUntil(
        [&] {
            return plugged
                || f.log.linesStartingWith(QStringLiteral("Disconnected: ")).size()
                == f.log.linesStartingWith(QStringLiteral("Connected: ")).size();
        },
        3000);
    f.bus->run([](DeviceBus& bus) {
        bus.setReportObserver(nullptr);
        if (!bus.isPlugged(0)) {
            bus.device(0).restarted();
            bus.plug(0);
        }
    });
    if (!f.waitForReady(Plus, 30000) || !checked(f, 15000))
        return false;
    if (f.workflow()->plan().isEmpty())
        return f.waitForUpToDate(1000);
    f.startUpdate();
    return f.waitForUpToDate(60000);
}

void tst_WorkflowFaultMatrix::row_data()
{
    QTest::addColumn<QStringList>("old");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("settles");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("installed");

    const QStringList both { "MP", "DSP" };
    // The device phases: the command of the report and the pause after it.
    struct Phase
    {
        const char* name;
        QStringList old;
        int command;
        int occurrence;
        int delay;
        // Where the window settles when the device stays away, and when it comes back; the message
        // that must be shown when it stays away (none when it comes back); what the device holds by then.
        const char* away;
        const char* back;
        const char* message;
        QStringList installed;
        QStringList installedBack;
    };
    const Phase phases[] = {
        // Away after its restart, the device fails the reboot and the DSP firmware is planned again;
        // back within the reboot window, it is a device not back yet, and the update goes on.
        // Back after an update it cut short, the device is planned again by itself.
        { "header exchange after a reboot", both, 0x000A, 1, 0, "prompt, not installed", "nothing planned",
            "Reboot Failure", { "MP" }, both },
        { "ready check", both, 0x0012, 1, 0, "prompt, not installed", "planned", "", {}, {} },
        { "MCU stream", both, 0x0004, 40, 0, "prompt, not installed", "planned", "", {}, {} },
        { "DSP stream", { "DSP" }, 0x0002, 10, 0, "prompt, not installed", "planned", "", {}, {} },
        { "inside a sector", { "Styles" }, 0x0014, 500, 0, "prompt, not installed", "planned", "", {}, {} },
        { "inside a sector pause", { "Styles" }, 0x0014, 1171, 1000, "prompt, not installed", "planned", "",
            {}, {} },
        { "after the end packet", both, 0x0005, 1, 0, "updating: Waiting for the device to reboot...",
            "nothing planned", "", { "MP" }, both },
        { "during the reboot wait", both, 0x0005, 1, 600, "updating: Waiting for the device to reboot...",
            "nothing planned", "", { "MP" }, both },
    };
    for (const Phase& phase : phases) {
        for (const bool cycle : { false, true }) {
            Fault fault;
            fault.command = phase.command;
            fault.occurrence = phase.occurrence;
            fault.delay = DeviceProtocol::scaled(phase.delay);
            fault.powerCycle = cycle;
            QTest::addRow("%s: %s", cycle ? "power-cycled" : "unplugged", phase.name)
                << phase.old << fault << QString::fromLatin1(cycle ? phase.back : phase.away)
                << QString::fromLatin1(cycle ? "" : phase.message)
                << (cycle ? phase.installedBack : phase.installed);
        }
    }

    // Server faults: the reply of the manifest, or of the MCU file to its size request or download.
    struct Kind
    {
        const char* name;
        std::function<HttpTestServer::Reply(const QByteArray&, const QUrl&)> make;
        // Outcome on the manifest, the size request and the download: "" where the fault does not
        // apply, "ok" where the update must succeed, otherwise the message title.
        const char* manifest;
        const char* head;
        const char* get;
    };
    const Kind kinds[] = {
        { "404", [](const QByteArray&, const QUrl&) { return reply("not here", 404); },
            "Update Check Failure", "Update Check Failure", "Download Failure" },
        { "500", [](const QByteArray&, const QUrl&) { return reply("broken", 500); }, "Update Check Failure",
            "Update Check Failure", "Download Failure" },
        { "connection reset mid-body",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body);
                r.faultyAnswers = 1000;
                r.closeAfter = body.size() / 2;
                r.reset = true;
                return r;
            },
            "Update Check Failure", "", "Download Failure" },
        { "stall, no bytes",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body);
                r.silent = true;
                return r;
            },
            "Update Check Failure", "Update Check Failure", "Download Failure" },
        { "stall mid-body",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body);
                r.stallAfter = body.size() / 2;
                return r;
            },
            "Update Check Failure", "", "Download Failure" },
        { "body shorter than announced",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body);
                r.contentLength = body.size() + 1000;
                return r;
            },
            "Update Check Failure", "", "Download Failure" },
        { "body longer than announced",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body + QByteArray(1000, 'x'));
                r.contentLength = body.size();
                return r;
            },
            "ok", "", "ok" },
        { "endless body",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body);
                r.chunked = true;
                r.endless = true;
                return r;
            },
            "Update Check Failure", "", "Download Failure" },
        { "redirect loop",
            [](const QByteArray&, const QUrl& self) {
                HttpTestServer::Reply r = reply("moved", 302);
                r.headers.append(qMakePair(QByteArray("Location"), self.toEncoded()));
                return r;
            },
            "Update Check Failure", "Update Check Failure", "Download Failure" },
        { "no Content-Length",
            [](const QByteArray& body, const QUrl&) {
                HttpTestServer::Reply r = reply(body);
                r.sendContentLength = false;
                return r;
            },
            "ok", "ok", "ok" },
        { "HTML page instead",
            [](const QByteArray&, const QUrl&) {
                HttpTestServer::Reply r = reply(htmlPage);
                r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/html")));
                return r;
            },
            "no updates", "Download Failure", "Download Failure" },
    };
    for (const Kind& kind : kinds) {
        const std::pair<const char*, const char*> targets[]
            = { { "manifest", kind.manifest }, { "HEAD", kind.head }, { "GET", kind.get } };
        for (const auto& [target, outcome] : targets) {
            if (*outcome == '\0')
                continue;
            const bool manifest = QByteArray(target) == "manifest";
            Fault fault;
            fault.target = QLatin1String(manifest ? "manifest" : "file");
            fault.method = manifest ? "GET" : target;
            fault.make = kind.make;
            const QByteArray expected(outcome);
            QTest::addRow("%s: %s", target, kind.name)
                << QStringList { "MP" } << fault
                << QString::fromLatin1(expected == "Download Failure" ? "planned" : "nothing planned")
                << QString::fromLatin1(expected == "ok" || expected == "no updates" ? "" : outcome)
                << (expected == "ok" ? QStringList { "MP" } : QStringList {});
        }
    }

    // A byte a second never times out; the user ends it by unplugging the device.
    Fault trickle;
    trickle.target = QStringLiteral("file");
    trickle.method = "GET";
    trickle.make = [](const QByteArray& body, const QUrl&) {
        HttpTestServer::Reply r = reply(body);
        r.chunkSize = 1;
        r.chunkDelay = 1000;
        return r;
    };
    trickle.transferTimeout = DownloadAgent::defaultTransferTimeout;
    trickle.command = -1;
    trickle.delay = 4000;
    QTest::newRow("GET: a byte a second, then unplugged")
        << QStringList { "MP" } << trickle << "prompt, not installed" << QString() << QStringList {};

    // Writes beyond 2000 bytes fail as on a full disk (files only; the process ignores the signal).
    Fault full;
    full.before = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous {};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit small = previous;
        small.rlim_cur = 2000;
        ::setrlimit(RLIMIT_FSIZE, &small);
        return std::function<void()>([previous] { ::setrlimit(RLIMIT_FSIZE, &previous); });
    };
    QTest::newRow("download directory full") << QStringList { "MP" } << full << "planned"
                                             << "Download Failure" << QStringList {};

    // Root may write anywhere; the updater must still refuse a directory that is not its user's.
    Fault foreign;
    foreign.before = [] {
        const QByteArray path = QFile::encodeName(ApplicationPaths::downloadDirectory());
        const bool changed = ::chown(path.constData(), 65534, 65534) == 0;
        return std::function<void()>([path, changed] {
            if (changed)
                QVERIFY(::chown(path.constData(), ::geteuid(), ::getegid()) == 0);
        });
    };
    foreign.logged = QStringLiteral("is not a directory of this user");
    QTest::newRow("download directory of another account, at the check")
        << QStringList { "MP" } << foreign << "nothing planned"
        << "Update Check Failure" << QStringList {};
    foreign.atStart = true;
    foreign.logged = QStringLiteral("MainWindow: Failed to create download directory.");
    QTest::newRow("download directory of another account, at the download")
        << QStringList { "MP" } << foreign << "planned"
        << "Download Failure" << QStringList {};
}

void tst_WorkflowFaultMatrix::row()
{
    QFETCH(QStringList, old);
    QFETCH(Fault, fault);
    QFETCH(QString, settles);
    QFETCH(QString, message);
    QFETCH(QStringList, installed);
    bool passed = false;
    qint64 settledMs = -1;
    std::unique_ptr<GuiStallMeter> stalls;
    auto record = qScopeGuard([&] {
        outcomes.append({ QString::fromLatin1(QTest::currentDataTag()), passed, settledMs,
            stalls ? stalls->longest() : -1 });
    });

    EngineFixture f;
    f.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    f.catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    f.catalogue.addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), 20000);
    f.catalogue.publish();
    SimulatedDeviceSettings device;
    device.serialNumber = QStringLiteral("PKM");
    device.path = QStringLiteral("sim/PKM");
    device.mcuWord = old.contains(QLatin1String("MP")) ? 0x0312 : 0x0327;
    device.dspWord = old.contains(QLatin1String("DSP")) ? 0x0310 : 0x0312;
    device.stylesVersion = old.contains(QLatin1String("Styles")) ? 0x0100 : 0x1A2B;
    device.rebootMs = rebootMs;
    f.addDevice(device);
    f.start();
    stalls = std::make_unique<GuiStallMeter>();
    f.workflow()->findChild<UpdateManager*>()->setTransferTimeout(fault.transferTimeout);
    f.workflow()
        ->findChild<DownloadAgent*>(QString(), Qt::FindDirectChildrenOnly)
        ->setTransferTimeout(fault.transferTimeout);
    QVERIFY(f.waitForReady());

    std::function<void()> undo;
    if (fault.before && !fault.atStart)
        undo = fault.before();
    served(f, fault);
    QElapsedTimer clock;
    clock.start();
    // The update starts when the check gave a plan.
    if (checked(f, settleBound) && f.workflow()->plan().size() == old.size()) {
        if (fault.before && fault.atStart)
            undo = fault.before();
        arm(f, fault);
        f.startUpdate();
    }
    // Settled: where the row says, with the message it names told.
    const auto settled = [&] { return where(f) == settles && (message.isEmpty() || f.told(message)); };
    const bool reached = waitUntil(settled, settleBound);
    settledMs = clock.elapsed();
    if (undo)
        undo();
    QVERIFY2(reached, qPrintable(where(f) + QLatin1String(" | ") + f.messages.join(QLatin1String(", "))));
    QCOMPARE(holdings(f), installed);
    if (!fault.logged.isEmpty())
        QVERIFY2(!f.log.lines().filter(fault.logged).isEmpty(), qPrintable(fault.logged));
    QVERIFY2(recover(f), qPrintable(where(f) + QLatin1String(" | ") + f.messages.join(QLatin1String(", "))));
    const SimulatedDevice after = f.device(0);
    QCOMPARE(holdings(f), old);
    QCOMPARE(after.installCount(), old.size());
    QVERIFY2(after.violations().isEmpty(), qPrintable(after.violations().join(QLatin1Char('\n'))));
    QVERIFY2(stalls->longest() < 1000, qPrintable(QString::number(stalls->longest())));
    passed = true;
}

void tst_WorkflowFaultMatrix::cleanupTestCase()
{
    QTextStream out(stdout);
    out << "\nFault matrix: row | outcome | settled after | longest GUI stall\n";
    for (const Outcome& o : qAsConst(outcomes)) {
        out << QStringLiteral("%1 | %2 | %3 ms | %4 ms\n")
                   .arg(o.row, -48)
                   .arg(o.passed ? QStringLiteral("pass") : QStringLiteral("FAIL"))
                   .arg(o.settledMs)
                   .arg(o.longestStall);
    }
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowFaultMatrix, PelkPlus::EngineTest)

#include "tst_WorkflowFaultMatrix.moc"
