#include "support/EngineFixture.h"

#include "app/ConfigurationManager.h"
#include "device/DeviceInfo.h"
#include "workflow/UpdateJournal.h"
#include "workflow/UpdateWorkflow.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

namespace PelkPlus {

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
    engine->setUnsignedCatalogueAllowed(unsignedAllowed);
    sleep = new Sleep;
    engine->setSleepPreventer(sleep);
    power = new Power;
    engine->setPowerStatus(power);
    engine->setAppPackageType(std::nullopt);
    connect(engine.get(), &WorkflowNotifier::phaseChanged, this, [this](WorkflowPhase phase) {
        phases.append(phase);
        phaseTimes.append(log.elapsed());
    });
    connect(engine.get(), &WorkflowNotifier::updateEnded, this,
        [this](UpdateOutcome outcome) { outcomes.append(outcome); });
    connect(engine.get(), &WorkflowNotifier::messageRequested, this,
        [this](MessageKind, const QString& title, const QString& text) {
            messages.append(title + QStringLiteral(": ") + text);
        });
    connect(engine.get(), &WorkflowNotifier::statusChanged, this, [this](const QString& text, MessageKind) {
        statuses.append(text);
        statusTimes.append(log.elapsed());
    });
    connect(engine.get(), &WorkflowNotifier::componentTextChanged, this,
        [this](const QString& text) { componentTexts.append(text); });
    engine->start();
}

void EngineFixture::check()
{
    engine->checkForUpdates();
}

void EngineFixture::startUpdate()
{
    engine->startUpdate();
}

void EngineFixture::installFile(ComponentType type, const QString& path)
{
    engine->installFile(type, path);
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
        QSignalSpy(engine.get(), &WorkflowNotifier::updateEnded).wait(timeout);
    if (outcomes.isEmpty())
        return std::nullopt;
    return outcomes.first();
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
