#pragma once

#include "SimulatedDeviceSettings.h"

#include <QByteArray>
#include <QString>

namespace PelkPlus {

class DeviceJournal;

// The receiving side of a simulated device's link: the numbering of the counted packets and the
// component transfer under way (an MCU or DSP stream, or Styles or Ensemble Audio sectors), each
// packet checked as strictly as the device would. A fault found anywhere rejects the transfer
// under way; its further packets are dropped until it ends or the device resets.
class TransferReceiver
{
public:
    // One output report as the device reads it.
    struct Packet
    {
        unsigned command = 0;
        unsigned length = 0;
        unsigned sequence = 0;
        const unsigned char* payload = nullptr; // its 56 bytes
        QString name;                           // how the journal names it
    };

    // What a packet or a quiet period returns when no component arrived whole with it.
    static constexpr int noComponent = -1;

    // A new connection was opened: the numbering starts again at 0.
    void connectionOpened(DeviceJournal& journal);
    // The device restarted: nothing is under way and no number is expected.
    void restarted();

    // Records a fault of the host and rejects the transfer under way.
    void violation(const QString& what, DeviceJournal& journal);
    // False, after a violation, when a payload byte from the given one on is not zero.
    bool checkZero(const Packet& packet, int from, DeviceJournal& journal);
    // False, after a violation, when a counted packet does not carry the number expected.
    bool checkSequence(unsigned sequence, DeviceJournal& journal);
    // True, after a violation, when the packet arrives while the sector just ended is being written,
    // less than pauseMs after it.
    bool arrivesWhileWriting(const Packet& packet, qint64 nowMs, int pauseMs, DeviceJournal& journal);

    // The packets of a transfer. Those that can end one return the component (as SimulatedDevice
    // numbers them) that arrived whole with them, or noComponent.
    void streamData(const Packet& packet, DeviceJournal& journal);
    int streamEnd(const Packet& packet, DeviceJournal& journal);
    void sectorData(
        const Packet& packet, qint64 nowMs, const SimulatedDeviceSettings& settings, DeviceJournal& journal);
    int terminate(const Packet& packet, const SimulatedDeviceSettings& settings, DeviceJournal& journal);
    // The host has been quiet for a while: sectors that expect no terminating packet are complete;
    // anything else under way was abandoned.
    int quiet(const SimulatedDeviceSettings& settings, DeviceJournal& journal);

    bool isReceiving() const { return receiving != Receiving::Nothing; }
    // What the last transfer received, and the checksum of its stream data.
    const QByteArray& image() const { return buffer; }
    quint8 imageChecksum() const { return checksum; }
    // The data packets received, sectors' included, whatever became of them.
    int packetCount() const { return packets; }

private:
    enum class Receiving { Nothing, McuStream, DspStream, StylesSectors, EnsembleSectors, Rejected };

    bool continuesRejected(Receiving what, const QString& packetName, DeviceJournal& journal);
    // Expects the number after sequence next, without judging this one.
    void followSequence(unsigned sequence);
    void beginReceiving(Receiving what, DeviceJournal& journal);
    static bool terminationDue(Receiving what, const SimulatedDeviceSettings& settings);
    int finishSectors();

    Receiving receiving = Receiving::Nothing;
    // What was being received when a violation made the device reject it.
    Receiving rejected = Receiving::Nothing;
    QByteArray buffer;
    quint8 checksum = 0;
    int expectedSequence = -1;
    int lastDataSequence = -1;
    int sectorPackets = 0;
    int sectorCount = 0;
    qint64 sectorEndedAt = -1;
    int packets = 0;
};

} // namespace PelkPlus
