#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "device/LinkResult.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QState;

namespace PelkPlus {

class DeviceAgent;
class DeviceMonitor;
class UpdateWorkflow;

// Which device the workflow works with, during an update and outside one, and the device region of
// its state machine that follows that device's connection: the agent of the device selected, the
// preferred serial number, the device being updated and the one whose update ended while it
// restarted, and the bounded waits for a device to answer or to come back.
class DeviceSelection : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceSelection)

public:
    DeviceSelection(UpdateWorkflow& workflow, DeviceMonitor* monitor);
    ~DeviceSelection() override;

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
    void startRebootWait() { rebootWaitTimer.start(rebootReturnLimitMs); }
    void stopRebootWait() { rebootWaitTimer.stop(); }
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

private:
    void onDeviceFailure();
    void stopForForeignDevice(const Connection& foreign);
    // Asks the user which of the devices that may be the one being updated it is.
    void askAmongCandidates();
    void tellConnectFailure(const QString& text);

    UpdateWorkflow& workflow;
    DeviceMonitor* monitor;
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
    LinkResult failureResult = LinkOk;
    QTimer answerTimer;
    QTimer rebootWaitTimer;
    QTimer reconnectTimer;
    int rebootReturnLimitMs;
    int deviceAnswerLimitMs;
};

} // namespace PelkPlus
