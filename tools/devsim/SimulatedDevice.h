#pragma once

#include "device/DeviceModel.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <functional>

namespace PelkPlus {

enum class SimulatedReadyBehaviour { Immediately, AfterQueries, Never, NoAnswer };
enum class SimulatedHeaderBehaviour { Normal, NoAnswer, BadSignature, BadCommand, BadCount };

// What a simulated device is and how it behaves.
struct SimulatedDeviceSettings
{
    int model = Plus;
    QString serialNumber = QStringLiteral("PK000001");
    QString path = QStringLiteral("sim/pelk-1");
    int interfaces = 1;
    // How many times the bus lists each interface, all with its one path (hidapi lists a node once
    // per usage of its report descriptor).
    int duplicateEntries = 1;
    // For this long after the device appears (added, plugged, back from a reboot) opens are refused
    // for want of access, as a node is until udev has applied the seat's rule.
    int refuseOpenMs = 0;
    unsigned mcuWord = 0x0312;
    unsigned dspWord = 0x0310;
    quint16 stylesVersion = 0x0100;
    quint32 ensembleVersion = 0x00010000;
    quint16 tag = 0x5A5A;
    // A Base may report its release types with both low bits cleared; the host reads them set.
    bool clearBaseReleaseBits = false;
    SimulatedReadyBehaviour ready = SimulatedReadyBehaviour::Immediately;
    int readyAfterQueries = 0;
    SimulatedHeaderBehaviour header = SimulatedHeaderBehaviour::Normal;
    bool headerAfterReboot = true;
    bool dropOffAfterInstall = true;
    bool comeBackAfterReboot = true;
    // Takes a component whole but keeps reporting the version it had before.
    bool keepVersionAfterInstall = false;
    int rebootMs = 3000;
    int unplugAfterPacket = -1;
    // After this many reports the device takes no more (it hangs without leaving the bus); -1 never.
    int stopTakingAfterPacket = -1;
    bool paced = false;
    // How long the device needs to write one flash sector; nothing may arrive meanwhile, after the
    // last sector as after every other.
    int sectorWriteMs = 2100;
    // Quiet time after which sectors with no terminating packet due count as complete.
    int quietCompleteMs = 2600;
};

// A device of the family as its USB side behaves: it answers the header request and the ready
// query, receives the four kinds of component, checks every packet as strictly as the device
// would, installs what arrived whole and then asks to be rebooted. It knows no transport: whoever
// serves it hands it each output report and carries its replies and requests back.
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

    QByteArray installedImage(int component) const { return images.at(size_t(component)); }
    // True when the installed image is exactly image followed by nothing but the zero fill of its
    // last packet or sector.
    bool holdsImage(int component, const QByteArray& image) const;
    quint8 receivedChecksum(int component) const { return checksums.at(size_t(component)); }
    int installCount() const { return installs; }
    const QStringList& violations() const { return violationList; }
    int packetsReceived() const { return packets; }
    bool rebootPending() const { return rebootIsPending; }

    void setLog(std::function<void(const QString&)> log) { logSink = std::move(log); }

    // "PELKVER=<version>;" anywhere in an image names the version that the image installs.
    static QByteArray versionMarker(const QString& version);

    // How much shorter than sectorWriteMs a measured pause may come out and still pass. A report
    // is stamped when the bus takes it from the socket, not when the host wrote it: the host's
    // last packets before its pause can wait in the socket buffers (a few kilobytes, about 60
    // reports) and for the bus's thread to be scheduled, so the gap seen here can be shorter
    // than the host's pause by that delay. Paced devices take one report per millisecond, so the
    // buffered reports alone can add about 60 ms.
    int pauseSlackMs() const { return deviceSettings.paced ? 90 : 20; }

private:
    enum class Receiving { Nothing, McuStream, DspStream, StylesSectors, EnsembleSectors, Rejected };

    void log(const QString& line) const;
    void violation(const QString& what);
    bool checkZero(const unsigned char* payload, int from, const QString& packetName);
    bool continuesRejected(Receiving what, const QString& packetName);
    bool checkSequence(unsigned sequence);
    // Expects the number after sequence next, without judging this one.
    void followSequence(unsigned sequence);
    Request install(int component, const QByteArray& image);
    Request finishSectors();
    void beginReceiving(Receiving what);
    bool terminationDue(Receiving what) const;

    Settings deviceSettings;
    std::function<void(const QString&)> logSink;
    Receiving receiving = Receiving::Nothing;
    // What was being received when a violation made the device reject it.
    Receiving rejected = Receiving::Nothing;
    QByteArray buffer;
    quint8 checksum = 0;
    int expectedSequence = -1;
    int lastDataSequence = -1;
    int sectorPackets = 0;
    int sectorCount = 0;
    qint64 lastPacketAt = 0;
    qint64 sectorEndedAt = -1;
    int readyQueries = 0;
    int packets = 0;
    int installs = 0;
    bool rebootIsPending = false;
    // Set by an install until the device restarts: it takes nothing more meanwhile.
    bool imageInstalled = false;
    int lostAfterInstall = 0;
    bool rebooted = false;
    std::array<QByteArray, 4> images;
    std::array<quint8, 4> checksums {};
    QStringList violationList;
};

} // namespace PelkPlus
