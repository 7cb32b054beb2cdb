#include "support/EngineFixture.h"

#include "app/ConfigurationManager.h"
#include "app/UpdateHistory.h"
#include "device/DeviceInfo.h"
#include "device/DeviceProtocol.h"
#include "workflow/UpdateJournal.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QState>
#include <QSignalSpy>
#include <QTest>

namespace PelkPlus {

bool waitUntil(const std::function<bool()>& done, int timeout)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeout)
        QTest::qWait(20);
    return done();
}

void EngineFixture::Sleep::setPreventSleep(bool on)
{
    if (on)
        ++switchedOn;
    else
        ++switchedOff;
    preventing = on && !refuse;
}

EngineFixture::EngineFixture()
    : catalogue(&server)
{
    registerDeviceMetaTypes();
    // The data location lives as long as the test program: an update an earlier test left
    // unfinished would otherwise be offered to finish in this one.
    UpdateJournal::remove();
    if (!server.listen())
        qFatal("The test server cannot listen on 127.0.0.1.");
}

EngineFixture::~EngineFixture()
{
    // The workflow's agents talk to the bus until they are gone.
    engine.reset();
    bus.reset();
}

int EngineFixture::addDevice(const SimulatedDeviceSettings& settings)
{
    if (!bus)
        bus = std::make_unique<VirtualBus>();
    return bus->addDevice(settings);
}

void EngineFixture::start(bool unsignedAllowed)
{
    if (!bus)
        bus = std::make_unique<VirtualBus>();
    ConfigurationManager::instance()->setManifestUrl(catalogue.manifestUrl());
    engine = std::make_unique<UpdateWorkflow>();
    engine->setQuestions(this);
    record(engine.get(), unsignedAllowed);
    engine->start();
}

void EngineFixture::attach(UpdateWorkflow* workflow, bool unsignedAllowed)
{
    record(workflow, unsignedAllowed);
}

void EngineFixture::record(UpdateWorkflow* workflow, bool unsignedAllowed)
{
    current = workflow;
    workflow->setUnsignedCatalogueAllowed(unsignedAllowed);
    sleep = new Sleep;
    workflow->setSleepPreventer(sleep);
    power = new Power;
    workflow->setPowerStatus(power);
    workflow->setAppPackageType(appPackage);
    connect(workflow, &WorkflowNotifier::phaseChanged, this, [this](WorkflowPhase phase) {
        phases.append(phase);
        phaseTimes.append(log.elapsed());
    });
    connect(workflow, &WorkflowNotifier::updateEnded, this,
        [this](UpdateOutcome outcome) { outcomes.append(outcome); });
    connect(workflow, &WorkflowNotifier::messageRequested, this,
        [this](MessageKind, const QString& title, const QString& text) {
            messages.append(title + QStringLiteral(": ") + text);
        });
    connect(workflow, &WorkflowNotifier::statusChanged, this, [this](const QString& text, MessageKind) {
        statuses.append(text);
        statusTimes.append(log.elapsed());
    });
    connect(workflow, &WorkflowNotifier::componentTextChanged, this,
        [this](const QString& text) { componentTexts.append(text); });
}

SimulatedDeviceSettings EngineFixture::olderDevice(const QStringList& old, const QString& serial, int model)
{
    SimulatedDeviceSettings s;
    s.model = model;
    s.serialNumber = serial;
    s.path = QStringLiteral("sim/") + serial;
    s.mcuWord = old.contains(QLatin1String("MP")) ? 0x0312 : 0x0327;
    s.dspWord = old.contains(QLatin1String("DSP")) ? 0x0310 : 0x0312;
    s.stylesVersion = old.contains(QLatin1String("Styles")) ? 0x0100 : 0x1A2B;
    s.ensembleVersion = old.contains(QLatin1String("Ensemble")) ? 0x00010000 : 0x00020014;
    // Longer than one poll of the monitor, so that the drop is seen.
    s.rebootMs = DeviceProtocol::scaled(1800);
    return s;
}

void EngineFixture::check()
{
    current->checkForUpdates();
}

bool EngineFixture::startPlanned(const QStringList& items)
{
    if (!waitForReady())
        return false;
    phases.clear();
    check();
    if (!waitUntil([&] {
            return phases.contains(WorkflowPhase::Checking) && current->phase() == WorkflowPhase::Planned
                && planned() == items;
        }))
        return false;
    startUpdate();
    return true;
}

void EngineFixture::startUpdate()
{
    current->startUpdate();
}

void EngineFixture::installFile(ComponentType type, const QString& path)
{
    current->installFile(type, path);
}

void EngineFixture::unplug(int device)
{
    bus->run([device](DeviceBus& devices) { devices.unplug(device); });
}

void EngineFixture::plug(int device)
{
    bus->run([device](DeviceBus& devices) {
        devices.device(device).restarted();
        devices.plug(device);
    });
}

void EngineFixture::powerCycle(int device)
{
    bus->run([device](DeviceBus& devices) { devices.powerCycle(device); });
}

bool EngineFixture::waitForPhase(WorkflowPhase phase, int timeout)
{
    return QTest::qWaitFor([&] { return phases.contains(phase); }, timeout);
}

std::optional<UpdateOutcome> EngineFixture::waitForOutcome(int timeout)
{
    if (outcomes.isEmpty())
        QSignalSpy(current, &WorkflowNotifier::updateEnded).wait(timeout);
    if (outcomes.isEmpty())
        return std::nullopt;
    return outcomes.first();
}

bool EngineFixture::told(const QString& title) const
{
    const QString start = title.contains(QLatin1Char(':')) ? title : title + QStringLiteral(": ");
    for (const QString& message : messages) {
        if (message.startsWith(start))
            return true;
    }
    return false;
}

bool EngineFixture::waitForMessage(const QString& title, int timeout)
{
    return waitUntil([&] { return told(title); }, timeout);
}

bool EngineFixture::waitForReady(int model, int timeout)
{
    return waitUntil(
        [&] {
            const WorkflowPhase now = current->phase();
            return (now == WorkflowPhase::Idle || now == WorkflowPhase::Planned) && current->hasDevice()
                && current->deviceInfo().model == model;
        },
        timeout);
}

bool EngineFixture::waitForUpToDate(int timeout)
{
    return waitUntil(
        [&] {
            return current->state(WorkflowStates::nothingToInstallState)->active()
                && current->lastChecked().isValid() && current->plan().isEmpty();
        },
        timeout);
}

QStringList EngineFixture::planned() const
{
    QStringList items;
    for (const Component& component : current->plan())
        items.append(componentTypeName(component.type) + QLatin1Char(' ') + component.version);
    return items;
}

QString EngineFixture::holdings(int index, const QList<UpdateCatalogue::Entry>& extra) const
{
    const SimulatedDevice held = device(index);
    if (held.packetsReceived() == 0)
        return QStringLiteral("nothing");
    QStringList names;
    const QList<UpdateCatalogue::Entry> known = catalogue.entries() + extra;
    for (int component = 0; component < 4; ++component) {
        if (held.installedImage(component).isEmpty())
            continue;
        QString name = QStringLiteral("unknown image");
        for (const UpdateCatalogue::Entry& entry : known) {
            if (!entry.image.isEmpty() && held.holdsImage(component, entry.image))
                name = entry.name + QLatin1Char(' ') + entry.version;
        }
        names.append(name);
    }
    return names.isEmpty() ? QStringLiteral("incomplete transfers") : names.join(QLatin1String(", "));
}

QStringList EngineFixture::history() const
{
    QStringList found;
    for (const UpdateHistoryEntry& e : UpdateHistory().entries()) {
        QString digest = QStringLiteral("no digest");
        for (const UpdateCatalogue::Entry& served : catalogue.entries()) {
            if (server.url(served.path).toString() == e.source
                && QCryptographicHash::hash(served.served, QCryptographicHash::Sha256).toHex() == e.sha256)
                digest = QStringLiteral("digest of ") + served.name;
        }
        found.append(QStringLiteral("%1 %2 %3 %4>%5 %6, %7")
                         .arg(e.model, e.serial, e.component, e.versionBefore, e.versionSent,
                             UpdateHistoryEntry::outcomeText(e.outcome), digest));
    }
    return found;
}

QString EngineFixture::openFileName(const QString&, const QString&, const QString&)
{
    return answers.isEmpty() ? QString() : answers.takeFirst();
}

QString EngineFixture::textInput(const QString&, const QString&, const QString& text, bool* ok)
{
    if (ok)
        *ok = !answers.isEmpty();
    return answers.isEmpty() ? text : answers.takeFirst();
}

bool EngineFixture::confirm(const QString& title, const QString& text)
{
    messages.append(title + QStringLiteral(": ") + text);
    return !answers.isEmpty() && answers.takeFirst() == QLatin1String("continue");
}

bool EngineFixture::ask(const QString& title, const QString& text)
{
    messages.append(title + QStringLiteral(": ") + text);
    return !answers.isEmpty() && answers.takeFirst() == QLatin1String("yes");
}

void EngineFixture::critical(const QString& title, const QString& text)
{
    messages.append(title + QStringLiteral(": ") + text);
}

bool EngineFixture::openUrl(const QUrl&)
{
    return true;
}

} // namespace PelkPlus
