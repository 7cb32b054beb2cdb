#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"

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
    // Interrupts a running transfer or ready check and joins the thread.
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

    Connection connection() const;
    // The record of the last ready signal; all zero before it (main thread only).
    DeviceInfo deviceInfo() const;
    // The LinkResult of the last failed connection, read after failure(); 0 before any (main thread
    // only). LinkAccessDenied tells a node this account may not open from a device that failed.
    int failureReason() const { return lastFailure; }

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
    int lastFailure = 0;
    QThread thread;
    DeviceAgentWorker* worker = nullptr;
};

} // namespace PelkPlus
