#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"
#include "device/LinkResult.h"

#include <QObject>
#include <QThread>

namespace PelkPlus {

class DeviceAgentWorker;
class DeviceMonitor;

// The application's handle on one selected device. Requests become events posted to a worker on the
// agent's own thread, so the window never waits on USB; the worker's answers come back as the
// agent's signals of the same names.
class DeviceAgent : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceAgent)

public:
    // Starts the agent's thread; the worker stays idle until start(). The monitor's disconnections
    // reach the worker so that it closes its link when its device is unplugged.
    explicit DeviceAgent(const Connection& connection, DeviceMonitor* monitor, QObject* parent = nullptr);
    // Interrupts a running transfer or ready check and joins the thread, for at most
    // DeviceProtocol::agentShutdownMs: a thread held longer by the HID stack ends by itself.
    ~DeviceAgent() override;

    // Opens the device and reads its header; answers with ready or failure.
    void start();
    // Closes the device.
    void stop();
    // Answers with readyForUpdate once the device can take an update.
    void checkReadyForUpdate();
    // fileType: 0 MCU firmware, 1 DSP firmware, 2 Styles, 3 Ensemble Audio. Answers with progress,
    // then done or failure.
    void sendFile(int fileType, const QString& path);
    // The same with the file's bytes as they were verified, so that no second reading of the file
    // can send anything else; name stands for the file in the trace.
    void sendBytes(int fileType, const QByteArray& contents, const QString& name);

    Connection connection() const;
    // The record of the last ready signal; all zero before it (main thread only).
    DeviceInfo deviceInfo() const;
    // The result of the last failure, LinkOk after ready (main thread only): whether it was a
    // time-out, a refused file or a stop.
    LinkResult lastResult() const { return lastLinkResult; }

signals:
    void ready(const DeviceInfo& info);
    void readyForUpdate();
    void notReadyForUpdate();
    void failure();
    void disconnected();
    void progress(float fraction, long total);
    void done();

private:
    void onWorkerReady(const DeviceInfo& info);

    Connection deviceConnection;
    DeviceInfo info;
    LinkResult lastLinkResult = LinkOk;
    // Not a member: it may outlive the agent (see the destructor).
    QThread* thread = nullptr;
    DeviceAgentWorker* worker = nullptr;
};

} // namespace PelkPlus
