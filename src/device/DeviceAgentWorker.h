#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <atomic>

namespace PelkPlus {

struct DeviceLink;
class SendFileEvent;

// Does all USB traffic with one device on the agent's thread: opening it, the header exchange, the
// ready-for-update polling and whole file transfers. Requests arrive as posted events and are handled
// one after the other; answers leave as signals.
class DeviceAgentWorker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceAgentWorker)

public:
    static constexpr QEvent::Type StartEvent = static_cast<QEvent::Type>(QEvent::User);
    static constexpr QEvent::Type StopEvent = static_cast<QEvent::Type>(QEvent::User + 1);
    static constexpr QEvent::Type ConnectEvent = static_cast<QEvent::Type>(QEvent::User + 2);
    static constexpr QEvent::Type CheckReadyEvent = static_cast<QEvent::Type>(QEvent::User + 3);
    // QEvent::User + 4 is SendFileEvent::Type.

    static constexpr int openTimeoutMs = 2000;
    // Right after a node appears (a plug-in, a reboot) it is root's alone until udev has applied
    // the access rule for the user at the computer, which takes it well under this long.
    static constexpr int accessWaitMs = 2000;
    static constexpr int accessRetryIntervalMs = 100;

    explicit DeviceAgentWorker(const Connection& connection, QObject* parent = nullptr);
    // Closes the link when one is open.
    ~DeviceAgentWorker() override;

    // Closes the link when the monitor reports this worker's own path gone.
    void onPathRemoved(const QString& path);
    // Called on the monitor's side the moment a path is reported gone, while the worker's thread may
    // be held by the ready check: the check then ends at its next query, and onPathRemoved follows.
    void notePathRemoved(const QString& path)
    {
        if (path == connection.path)
            pathGone.store(true);
    }

    // The transfers' progress callback; context is the worker. Returns 1 when the thread has been
    // asked to stop, which ends the transfer after the packet just written.
    static int reportProgress(float fraction, long total, void* context);
    // The transfers' wait while the device writes a sector: the same wait as the ready check's,
    // cut short (returning 1) when the thread is asked to stop.
    static int pauseTransfer(int milliseconds, void* context);

signals:
    void ready(const PelkPlus::DeviceInfo& info);
    void readyForUpdate();
    void notReadyForUpdate();
    void disconnected();
    void stopped();
    void failure();
    // The link's result behind the failure that follows it (a LinkResult).
    void failedWith(int result);
    void progress(float fraction, long total);
    void done();

protected:
    void customEvent(QEvent* event) override;

private:
    void handleStart();
    void handleStop();
    void handleConnect();
    void handleCheckReady();
    void handleSendFile(const SendFileEvent& event);
    void checkDropOff();
    // Closes the link of a device that is gone and says so.
    void dropLink();

    Connection connection;
    bool running = false;
    std::atomic<bool> pathGone { false };
    DeviceLink* link = nullptr;
    // Runs from a component's done until the device drops off or the next request.
    QTimer* dropOffTimer = nullptr;
    // Which interface is opened: 0 the connection's path, n its n-th other interface.
    int interfaceIndex = 0;
    // Since when opens of the path have been refused for want of access; invalid while they are not.
    QElapsedTimer deniedSince;
};

} // namespace PelkPlus
