#include "device/DeviceAgentWorker.h"

#include "device/DeviceLink.h"
#include "device/DeviceProtocol.h"
#include "device/ProgressHandler.h"
#include "device/SendFileEvent.h"
#include "device/TransferFile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace PelkPlus {

namespace {

// Waits are cut into slices this long so that the agent's destructor, which requests interruption
// and then joins the thread, never holds the window for a whole wait.
constexpr int interruptionSliceMs = 50;

bool interruptionRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

// Sleeps for milliseconds; returns false as soon as the thread is asked to stop.
bool sleepUnlessInterrupted(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (interruptionRequested())
            return false;
        const qint64 left = milliseconds - clock.elapsed();
        if (left <= 0)
            return true;
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(left, interruptionSliceMs)));
    }
}

} // namespace

DeviceAgentWorker::DeviceAgentWorker(const Connection& connection, QObject* parent)
    : QObject(parent)
    , connection(connection)
    , dropOffTimer(new QTimer(this))
{
    dropOffTimer->setInterval(DeviceProtocol::dropOffCheckMs);
    connect(dropOffTimer, &QTimer::timeout, this, &DeviceAgentWorker::checkDropOff);
}

DeviceAgentWorker::~DeviceAgentWorker()
{
    closeLink(link);
    link = nullptr;
}

void DeviceAgentWorker::customEvent(QEvent* event)
{
    // Every request has the link to itself.
    dropOffTimer->stop();
    switch (static_cast<int>(event->type())) {
    case StartEvent:
        handleStart();
        break;
    case StopEvent:
        handleStop();
        break;
    case ConnectEvent:
        handleConnect();
        break;
    case CheckReadyEvent:
        handleCheckReady();
        break;
    case SendFileEvent::Type:
        handleSendFile(*static_cast<SendFileEvent*>(event));
        break;
    default:
        QObject::customEvent(event);
        break;
    }
}

void DeviceAgentWorker::handleStart()
{
    qDebug() << "DeviceAgent: starting...";
    if (running) {
        qCritical() << "DeviceAgent: already running!";
        return;
    }
    running = true;
    QCoreApplication::postEvent(this, new QEvent(ConnectEvent));
}

void DeviceAgentWorker::handleStop()
{
    if (!running) {
        qCritical() << "DeviceAgent: Trying to stop, but not running.";
        return;
    }
    closeLink(link);
    link = nullptr;
    running = false;
    emit stopped();
}

void DeviceAgentWorker::handleConnect()
{
    qDebug() << "DeviceAgent: connecting...";
    if (!running) {
        // A retry still queued when stop arrived ends here.
        qDebug() << "DeviceAgent: aborting connection: stopped.";
        return;
    }
    if (link) {
        qCritical() << "DeviceAgent: trying to connect, but already connected.";
        return;
    }

    qDebug() << "DeviceAgent: opening device...";
    // The connection's path names the device (its removal is the device's); the link may be open
    // on another of its interfaces when that one did not answer.
    const QString path
        = interfaceIndex == 0 ? connection.path : connection.otherInterfaces.value(interfaceIndex - 1);
    int error = 0;
    link = openLink(path.toLocal8Bit().constData(), connection.model, openTimeoutMs, &error);
    if (error != LinkAccessDenied)
        deniedSince.invalidate();
    if (link) {
        // A removal reported while the worker was still trying to connect concerned the node that
        // was there then; the one just opened is present, or a ready check would end unanswered.
        pathGone.store(false);
        qDebug() << "DeviceAgent: getting header...";
        const HeaderRecord header = linkHeader(link);
        qDebug() << "DeviceAgent: getting info from header...";
        const DeviceInfo info = DeviceInfo::fromHeader(connection.model, header);
        qDebug() << "DeviceAgent: ready.";
        emit ready(info);
        return;
    }

    if (error == LinkTimeout) {
        // A device that has just been plugged in or rebooted may not answer yet. Each attempt is
        // its own event so that a stop request gets its turn between attempts.
        qCritical() << "DeviceAgent: Timeout. Retrying...";
        if (!connection.otherInterfaces.isEmpty()) {
            interfaceIndex = (interfaceIndex + 1) % (connection.otherInterfaces.size() + 1);
            qDebug() << "DeviceAgent: trying the device's interface" << interfaceIndex;
        }
        QCoreApplication::postEvent(this, new QEvent(ConnectEvent));
        return;
    }

    if (error == LinkAccessDenied) {
        if (!deniedSince.isValid())
            deniedSince.start();
        if (deniedSince.elapsed() < accessWaitMs) {
            qDebug() << "DeviceAgent: device not open to this account yet. Retrying...";
            // A timer, not a sleep: a stop request is handled between the attempts.
            QTimer::singleShot(accessRetryIntervalMs, this,
                [this] { QCoreApplication::postEvent(this, new QEvent(ConnectEvent)); });
            return;
        }
        deniedSince.invalidate();
    }

    qCritical() << "DeviceAgent: Failed to connect. Error:" << error;
    emit failedWith(error);
    emit failure();
    closeLink(link);
    link = nullptr;
    running = false;
}

void DeviceAgentWorker::handleCheckReady()
{
    if (!link) {
        qCritical() << "DeviceAgent: trying to check whether ready for update, but not connected.";
        return;
    }

    // On interruption the check ends without an answer: the agent is going away.
    if (connection.model == Base) {
        // The original model cannot be asked; it is given time to settle instead.
        if (!sleepUnlessInterrupted(DeviceProtocol::baseReadyDelay()))
            return;
        qDebug() << "DeviceAgent: Original Pelk:"
                 << "Assumed ready after 3 sec.";
        emit readyForUpdate();
        return;
    }

    const int deadlineMs = DeviceProtocol::readyDeadline();
    QElapsedTimer clock;
    clock.start();
    bool asked = false;
    while (clock.elapsed() < deadlineMs) {
        // A device that has gone is not asked for the rest of the wait, nor assumed ready.
        if (interruptionRequested() || pathGone.load())
            return;
        // A failed or timed-out query counts as not ready.
        int ready = 0;
        if (queryReadyForUpdate(link, DeviceProtocol::readyQueryTimeoutMs, &ready) != LinkWriteFailed)
            asked = true;
        qDebug() << "DeviceAgent: device ready for update = " << ready;
        if (ready) {
            emit readyForUpdate();
            return;
        }
        if (!sleepUnlessInterrupted(DeviceProtocol::readyPollInterval()))
            return;
    }
    if (!asked) {
        // A device that took not one query has not been given the chance to say it is busy; it is
        // not sent an update on the strength of its silence.
        qCritical() << "DeviceAgent: not one ready query could be written to the device.";
        emit failedWith(LinkWriteFailed);
        emit failure();
        return;
    }
    qDebug() << "DeviceAgent: timed out checking whether device ready for update."
             << "Assuming ready.";
    emit readyForUpdate();
}

void DeviceAgentWorker::handleSendFile(const SendFileEvent& event)
{
    if (!link) {
        qCritical() << "DeviceAgent: trying to send file but not connected.";
        return;
    }

    SendBytes transfer = nullptr;
    switch (event.fileType) {
    case 0:
        transfer = &sendMcuFirmwareBytes;
        break;
    case 1:
        transfer = &sendDspFirmwareBytes;
        break;
    case 2:
        transfer = &sendStylesBytes;
        break;
    case 3:
        transfer = &sendEnsembleAudioBytes;
        break;
    default:
        emit failedWith(LinkNotSupported);
        emit failure();
        return;
    }

    ProgressHandler handler;
    handler.function = &DeviceAgentWorker::reportProgress;
    handler.context = this;
    handler.pause = &DeviceAgentWorker::pauseTransfer;
    const QByteArray name = event.path.toLocal8Bit();
    const LinkResult result = event.inMemory
        ? transfer(link, reinterpret_cast<const unsigned char*>(event.contents.constData()),
            long(event.contents.size()), name.constData(), &handler)
        : sendLoadedFile(link, name.constData(), &handler, transfer);
    if (result != LinkOk) {
        qCritical() << "DeviceAgent: transfer failed:" << linkResultName(result);
        emit failedWith(result);
        emit failure();
    } else {
        emit done();
        // The device restarts now; its handle going dead is the drop-off, whether or not the
        // monitor sees the path go.
        dropOffTimer->start();
    }
}

void DeviceAgentWorker::checkDropOff()
{
    if (!link) {
        dropOffTimer->stop();
        return;
    }
    if (checkLinkAlive(link) == LinkOk)
        return;
    dropOffTimer->stop();
    qDebug() << "DeviceAgent: the device dropped off.";
    dropLink();
}

void DeviceAgentWorker::dropLink()
{
    closeLink(link);
    link = nullptr;
    running = false;
    qDebug() << "Device Agent: disconnected.";
    emit disconnected();
}

void DeviceAgentWorker::onPathRemoved(const QString& path)
{
    // While the worker still retries its connection there is no link to close; the next attempt
    // fails to open the vanished path and reports that.
    if (!link || path != connection.path)
        return;
    dropOffTimer->stop();
    dropLink();
}

int DeviceAgentWorker::pauseTransfer(int milliseconds, void*)
{
    return sleepUnlessInterrupted(milliseconds) ? 0 : 1;
}

int DeviceAgentWorker::reportProgress(float fraction, long total, void* context)
{
    auto* worker = static_cast<DeviceAgentWorker*>(context);
    emit worker->progress(fraction, total);
    return interruptionRequested() ? 1 : 0;
}

} // namespace PelkPlus
