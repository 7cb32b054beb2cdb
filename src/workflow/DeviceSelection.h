#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "device/LinkResult.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateFailure.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QState;

namespace PelkPlus {

class DeviceAgent;
class DeviceMonitor;
class WorkflowQuestions;

// Which device the workflow works with, during an update and outside one, and the device region of
// its state machine that follows that device's connection: the agent of the device selected, the
// preferred serial number, the device being updated and the one whose update ended while it
// restarted, and the bounded waits for a device to answer or to come back. The device's steps, and
// what is to be told of them, come through its own signals.
class DeviceSelection : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceSelection)

public:
    // How long a device found on the bus may take to answer its header. Each attempt waits 2 s for
    // the answer; a device that has just been plugged in or restarted answers within a few, and a
    // script's connect limit (pelk-cli's 30 s) is not outlived by the window's own wait.
    static constexpr int deviceAnswerTimeoutMs = 30000;
    // A device that answered its header wrongly is asked again after this pause, quietly.
    static constexpr int reconnectDelayMs = 5000;

    explicit DeviceSelection(DeviceMonitor* monitor, QObject* parent = nullptr);
    ~DeviceSelection() override;

    // Asked which device is the one being updated; not owned.
    void setQuestions(WorkflowQuestions* asked) { questions = asked; }

    // What to do with a device that did not answer or did not come back, whatever the reason.
    static QString replugInstruction();

    // Builds the device region into the machine's parallel state.
    void buildRegion(QState* regions);

    DeviceAgent* agent() const { return deviceAgent; }
    DeviceInfo deviceInfo() const;
    std::optional<Connection> selectedConnection() const;

    // The connections selection may take: all of them, or only the preferred one.
    static QList<Connection> preferredAmong(
        const QList<Connection>& connections, const QString& serialNumber);
    // The connection the workflow may select: the first, or during an update only the device
    // being updated, wherever it came back, or the one of the candidates the user named (chosen,
    // its path).
    static std::optional<Connection> selectableAmong(const QList<Connection>& connections,
        const std::optional<Connection>& updating, const QString& chosen = QString());
    // The connections that may be the device being updated, back from its restart: the one that
    // is it by its serial number, its node or its USB port, or else every one of its model that
    // nothing tells apart from it (no serial number, no port known), to be asked about.
    static QList<Connection> returnCandidates(
        const QList<Connection>& connections, const Connection& updating);
    QList<Connection> selectableConnections() const;
    std::optional<Connection> selectableConnection() const;

    void setPreferredSerial(const QString& serialNumber) { preferred = serialNumber; }
    QString preferredSerial() const { return preferred; }

    // The device selected now is the one being updated, until the update is left; one left while
    // it restarted (awaitingReboot) has what is left of its update planned again when it is back.
    void holdUpdatingDevice();
    // The device being updated, or else the one selected; what an install attempt is recorded for.
    std::optional<Connection> deviceWorkedOn() const;
    void releaseUpdatingDevice(bool awaitingReboot);
    // Whether the device just selected is the one whose update ended while it restarted; the
    // question is asked once.
    bool hasResumeDevice() const { return resumeDevice.has_value(); }
    bool takeResumeDevice();

    // A failed connection is tried again only on the monitor's next connection.
    bool isOfferSuppressed() const { return offerSuppressed; }
    bool accessDenied() const { return accessDeniedPath.has_value(); }
    // While the device on the bus stays refused: the lasting text a face shows in place of the
    // waits and the replug instruction, which would only alternate at each quiet retry. Empty
    // otherwise.
    QString accessWaitingText() const;
    LinkResult lastFailure() const { return failureResult; }

    void setWaitLimits(int rebootReturnMs, int answerMs);
    int rebootReturnLimit() const { return rebootReturnLimitMs; }
    int deviceAnswerLimit() const { return deviceAnswerLimitMs; }
    // The updated device's restart is awaited from startRebootWait() to stopRebootWait().
    void startRebootWait()
    {
        awaitingReboot = true;
        rebootWaitTimer.start(rebootReturnLimitMs);
    }
    void stopRebootWait()
    {
        awaitingReboot = false;
        rebootWaitTimer.stop();
    }
    bool rebootWaitOpen() const { return rebootWaitTimer.isActive(); }
    // The device's failure has been told (a failed reboot): its next failed connections say nothing
    // more until a device is plugged in or connects, so the unplugging the message asks for is not
    // answered with a second message.
    void failureTold() { connectFailureTold = true; }

    void selectDevice();
    void forgetDevice();
    // Offers a device the monitor lists that moved no state; only a device in the device region's
    // noDeviceState is selected, elsewhere the offer moves nothing.
    void offerListedDevice();

signals:
    // The agent's transfer progress.
    void installProgress(float fraction, long total);
    // The steps of the device selected: an agent was made for it, it answered its header, it went
    // away, it is or is not in its update mode, it took the file; or it failed.
    void deviceConnected();
    void deviceReady();
    void deviceDisconnected();
    void deviceReadyForUpdate();
    void deviceNotReadyForUpdate();
    void deviceDone();
    void deviceFailure();
    // The monitor lists a device that may be selected now.
    void deviceAvailable();
    // Only another device came back during an update; nothing is sent to it.
    void foreignDeviceReturned();
    // The device opened but did not answer its header within deviceAnswerLimit().
    void deviceSilent();
    // The device being updated did not come back ready within rebootReturnLimit().
    void rebootWaitExpired();
    // The user is being asked which device is the one being updated (true), or has answered.
    void awaitingAnswer(bool asking);
    void failureNoted(PelkPlus::UpdateFailure failure);
    void messageRequested(PelkPlus::MessageKind kind, const QString& title, const QString& text);

private:
    void onDeviceFailure();
    void stopForForeignDevice(const Connection& foreign);
    // Asks the user which of the devices that may be the one being updated it is.
    void askAmongCandidates();
    void tellConnectFailure(const QString& text);

    DeviceMonitor* monitor;
    WorkflowQuestions* questions = nullptr;
    DeviceAgent* deviceAgent = nullptr;
    QString preferred;
    // The device being updated, found again by serial number and model after each reboot.
    std::optional<Connection> updatingDevice;
    // The candidate the user named as the device being updated, and those said not to be it.
    QString chosenPath;
    QStringList declinedPaths;
    bool asking = false;
    // The device whose update ended while it restarted; when it is selected again, what is left of
    // its update is planned again from the same check.
    std::optional<Connection> resumeDevice;
    bool offerSuppressed = false;
    // The node of the last failed connection, when this account may not open it.
    std::optional<QString> accessDeniedPath;
    // "Connection Failure" was told for the device on the bus now; not again until it is ready or
    // plugged in again.
    bool connectFailureTold = false;
    bool awaitingReboot = false;
    LinkResult failureResult = LinkOk;
    QTimer answerTimer;
    QTimer rebootWaitTimer;
    QTimer reconnectTimer;
    int rebootReturnLimitMs;
    int deviceAnswerLimitMs;
};

} // namespace PelkPlus
