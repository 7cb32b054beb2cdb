#pragma once

#include "app/ApplicationIdentity.h"
#include "app/ConfigurationManager.h"
#include "app/SleepPreventer.h"
#include "support/FixedPowerStatus.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"
#include "support/UpdateCatalogue.h"
#include "support/VirtualBus.h"
#include "update/ComponentType.h"
#include "workflow/UpdateOutcome.h"
#include "workflow/WorkflowPhase.h"
#include "workflow/WorkflowQuestions.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace PelkPlus {

class UpdateWorkflow;

// Lets the event loop run until done() holds or the time is up; the last answer of done().
// Not QTest::qWaitFor: it hands the event loop the whole remaining time at once, and a server that
// never stops sending (an endless body) keeps that loop busy until the time is up, so the condition
// would be looked at only then.
bool waitUntil(const std::function<bool()>& done, int timeout = 15000);

// The update workflow with no window: simulated devices on the in-process virtual bus, the
// catalogue on the loopback server and scripted answers to its questions. A test says what it does
// with a few verbs and reads what happened: the phases, the outcome, the messages, what each device
// holds. The test's main needs a ConfigurationManager and a TestEnvironment (PELK_TEST_MAIN with EngineTest).
// A face that makes the workflow itself (the window) is given the same bus, catalogue, sleep
// preventer and power, and the same records, through attach().
class EngineFixture : public QObject, public WorkflowQuestions
{
    Q_OBJECT
    Q_DISABLE_COPY(EngineFixture)

public:
    // Counts the requests to stay awake; refuses them when told to.
    class Sleep : public SleepPreventer
    {
    public:
        void setPreventSleep(bool on) override;
        bool isPreventingSleep() const override { return preventing; }
        bool refuse = false;
        bool preventing = false;
        int switchedOn = 0;
        int switchedOff = 0;
    };

    // The computer's power as a row sets it; read before an update begins.
    using Power = FixedPowerStatus;

    EngineFixture();
    ~EngineFixture() override;

    // Devices come before start(), so that the workflow's first poll finds them; later ones are
    // plugged in as they are added.
    int addDevice(const SimulatedDeviceSettings& settings);
    // Makes and starts the workflow against the catalogue's manifest. The catalogue is unsigned
    // unless a row signs it, so the workflow is given consent to it unless the row is about that.
    void start(bool unsignedAllowed = true);
    // The workflow a face made and owns, in start()'s place: set up as start() sets up its own
    // (its questions left to the face) and recorded from now on.
    void attach(UpdateWorkflow* workflow, bool unsignedAllowed = true);
    UpdateWorkflow* workflow() const { return current; }
    // The updater's package type the workflow offers newer versions of; none unless a row sets it.
    std::optional<ComponentType> appPackage;

    // A device of the model older than a catalogue of MP 3.2.7, DSP 3.1.2, Styles 0x1A2B and
    // Ensemble 0x00020014 in the named components only ("MP", "DSP", "Styles", "Ensemble"), its
    // path sim/ and the serial number, restarting in a little more than one poll of the monitor.
    static SimulatedDeviceSettings olderDevice(
        const QStringList& old, const QString& serial = QStringLiteral("PKA"), int model = 1);

    // The verbs of a scenario.
    void check();
    // With a Pelk+ ready, checked until the plan reads as given (planned()), and the update started;
    // false when the plan does not come.
    bool startPlanned(const QStringList& items);
    void startUpdate();
    void installFile(ComponentType type, const QString& path);
    // The answers the workflow's next questions get, in order: a file name or a line of text.
    void answer(const QString& reply) { answers.append(reply); }
    void unplug(int device = 0);
    void plug(int device = 0);
    void powerCycle(int device = 0);

    // Waits until the phase is entered (or was, since the last clear of the trail).
    bool waitForPhase(WorkflowPhase phase, int timeout = 15000);
    // Waits for the end of the update and gives its outcome; none after the time-out.
    std::optional<UpdateOutcome> waitForOutcome(int timeout = 60000);
    // Waits for a message or critical question of the title (the whole "Title: text" when it holds
    // a colon) to have been told.
    bool waitForMessage(const QString& title, int timeout = 15000);
    bool told(const QString& title) const;
    // Waits for the workflow to rest with a device of the model (DeviceModel) ready.
    bool waitForReady(int model = 1, int timeout = 15000);
    // Waits for the workflow to rest having found nothing left to install.
    bool waitForUpToDate(int timeout = 60000);

    // The plan as "MCU Firmware 3.2.7", in its order.
    QStringList planned() const;
    // What a device holds, by the catalogue entries (and the extra images) its images are byte for
    // byte: "nothing" when it was sent nothing, else "MP 3.2.7, DSP 3.1.2".
    QString holdings(int device, const QList<UpdateCatalogue::Entry>& extra = {}) const;
    // The update history, oldest first: "Pelk+ PKA MCU Firmware Production 1.2>3.2.7 verified,
    // digest of MP", where the digest is named by the catalogue entry served from the source recorded.
    QStringList history() const;

    // What happened. Every line logged while the fixture lives (first made, so that it hears all).
    LogCapture log;
    QList<WorkflowPhase> phases;
    // When each phase was entered, on the log's clock.
    QList<qint64> phaseTimes;
    // Every updateEnded, in order.
    QList<UpdateOutcome> outcomes;
    // "Title: text" of every message and critical question.
    QStringList messages;
    QStringList statuses;
    // When each status was told, on the log's clock.
    QList<qint64> statusTimes;
    // "Updating MCU Firmware (Component 1/2)" of every component begun.
    QStringList componentTexts;
    SimulatedDevice device(int index = 0) const { return bus->device(index); }

    HttpTestServer server;
    UpdateCatalogue catalogue;
    std::unique_ptr<VirtualBus> bus;
    Sleep* sleep = nullptr;
    Power* power = nullptr;

    // WorkflowQuestions: the scripted answers, and criticals recorded as messages.
    QString openFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString textInput(const QString& title, const QString& label, const QString& text, bool* ok) override;
    // Recorded as a message; goes on when the next answer is "continue".
    bool confirm(const QString& title, const QString& text) override;
    // Recorded as a message; Yes when the next answer is "yes".
    bool ask(const QString& title, const QString& text) override;
    void critical(const QString& title, const QString& text) override;
    bool openUrl(const QUrl& url) override;
    void quitApplication() override { }

private:
    void record(UpdateWorkflow* workflow, bool unsignedAllowed);

    std::unique_ptr<UpdateWorkflow> engine;
    UpdateWorkflow* current = nullptr;
    QStringList answers;
};

} // namespace PelkPlus

namespace PelkPlus {
// A row's steps on the fixture, true when every one went as it should; and the devices it starts.
using EngineScript = std::function<bool(EngineFixture&)>;
using Devices = QList<SimulatedDeviceSettings>;
} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::EngineScript)
Q_DECLARE_METATYPE(PelkPlus::SimulatedDeviceSettings)
