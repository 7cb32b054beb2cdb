#pragma once

#include "DeviceJournal.h"
#include "InstalledImages.h"
#include "SimulatedDeviceSettings.h"
#include "TransferReceiver.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace PelkPlus {

// A device of the family as its USB side behaves: it answers the header request and the ready
// query, receives the four kinds of component, checks every packet as strictly as the device
// would, installs what arrived whole and then asks to be rebooted. It knows no transport: whoever
// serves it hands it each output report and carries its replies and requests back.
//
// This class reads each report and hands it on: the transfers to TransferReceiver, what arrived
// whole to InstalledImages, the replies to DeviceReplies, what it has to say to DeviceJournal.
class SimulatedDevice
{
public:
    using ReadyBehaviour = SimulatedReadyBehaviour;
    using HeaderBehaviour = SimulatedHeaderBehaviour;
    using Settings = SimulatedDeviceSettings;
    enum Component { Mcu = 0, Dsp = 1, Styles = 2, Ensemble = 3 };

    // What the device asks of whoever serves it after a report.
    enum class Request { None, Reboot, Unplug };

    explicit SimulatedDevice(const Settings& settings = Settings());

    const Settings& settings() const { return deviceSettings; }
    Settings& settings() { return deviceSettings; }

    // Handles one output report (65 bytes, report ID first) at the given time and appends the
    // device's input reports (64 bytes each) to replies.
    Request receive(const QByteArray& report, qint64 nowMs, QVector<QByteArray>& replies);

    // Called when the device has been quiet for a while; completes a sector transfer that expects
    // no terminating packet.
    Request idle(qint64 nowMs);

    // A new connection was opened on the device: the sequence check starts afresh.
    void connectionOpened();
    // The device is back on the bus after a reboot or power cycle.
    void restarted();

    QByteArray headerReply() const;

    QByteArray installedImage(int component) const { return memory.image(component); }
    // True when the installed image is exactly image followed by nothing but the zero fill of its
    // last packet or sector.
    bool holdsImage(int component, const QByteArray& image) const { return memory.holds(component, image); }
    quint8 receivedChecksum(int component) const { return memory.checksum(component); }
    int installCount() const { return memory.count(); }
    const QStringList& violations() const { return journal.violations(); }
    int packetsReceived() const { return transfer.packetCount(); }
    bool rebootPending() const { return rebootIsPending; }

    // The device's lines, each under its path (as it was when the device was made).
    void setLog(std::function<void(const QString&)> log) { journal.setSink(std::move(log)); }

    // "PELKVER=<version>;" anywhere in an image names the version that the image installs.
    static QByteArray versionMarker(const QString& version)
    {
        return InstalledImages::versionMarker(version);
    }

    // How much shorter than sectorWriteMs a measured pause may come out and still pass. A report
    // is stamped when the bus takes it from the socket, not when the host wrote it: the host's
    // last packets before its pause can wait in the socket buffers (a few kilobytes, about 60
    // reports) and for the bus's thread to be scheduled, so the gap seen here can be shorter
    // than the host's pause by that delay. Paced devices take one report per millisecond, so the
    // buffered reports alone can add about 60 ms.
    int pauseSlackMs() const { return deviceSettings.paced ? 90 : 20; }

private:
    using Packet = TransferReceiver::Packet;

    void violation(const QString& what) { transfer.violation(what, journal); }
    Request answerHeader(const Packet& packet, QVector<QByteArray>& replies);
    Request answerReady(const Packet& packet, QVector<QByteArray>& replies);
    // Installs a component that arrived whole; TransferReceiver::noComponent changes nothing.
    Request install(int component);
    // After a data packet: the settings may have the device pulled off the bus now.
    Request unplugIfDue();

    Settings deviceSettings;
    DeviceJournal journal;
    TransferReceiver transfer;
    InstalledImages memory;
    qint64 lastPacketAt = 0;
    int readyQueries = 0;
    bool rebootIsPending = false;
    // Set by an install until the device restarts: it takes nothing more meanwhile.
    bool imageInstalled = false;
    int lostAfterInstall = 0;
    bool rebooted = false;
};

} // namespace PelkPlus
