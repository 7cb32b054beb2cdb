#include "TransferReceiver.h"

#include "DeviceJournal.h"
#include "SimulatedDevice.h"

namespace PelkPlus {

namespace {
constexpr int packetsPerSector = 1171;
constexpr int lastChunkSize = 16;
} // namespace

void TransferReceiver::connectionOpened(DeviceJournal& journal)
{
    if (receiving != Receiving::Nothing && receiving != Receiving::Rejected)
        journal.log(QStringLiteral("transfer abandoned: a new connection was opened"));
    receiving = Receiving::Nothing;
    // The link counts from 0 again: its first counted packet must carry 0.
    expectedSequence = 0;
}

void TransferReceiver::restarted()
{
    receiving = Receiving::Nothing;
    expectedSequence = -1;
}

void TransferReceiver::violation(const QString& what, DeviceJournal& journal)
{
    journal.violation(what);
    if (receiving != Receiving::Nothing) {
        if (receiving != Receiving::Rejected)
            rejected = receiving;
        receiving = Receiving::Rejected;
    }
}

bool TransferReceiver::checkZero(const Packet& packet, int from, DeviceJournal& journal)
{
    for (int i = from; i < 56; ++i) {
        if (packet.payload[i] != 0) {
            violation(QStringLiteral("%1: payload byte %2 is 0x%3 where the packet leaves it zero")
                          .arg(packet.name)
                          .arg(i)
                          .arg(packet.payload[i], 2, 16, QLatin1Char('0')),
                journal);
            return false;
        }
    }
    return true;
}

bool TransferReceiver::checkSequence(unsigned sequence, DeviceJournal& journal)
{
    if (expectedSequence >= 0 && int(sequence) != expectedSequence) {
        violation(QStringLiteral("packet %1 carries sequence %2, expected %3")
                      .arg(packets)
                      .arg(sequence)
                      .arg(expectedSequence),
            journal);
        followSequence(sequence);
        return false;
    }
    followSequence(sequence);
    return true;
}

void TransferReceiver::followSequence(unsigned sequence)
{
    expectedSequence = sequence >= 65535 ? 0 : int(sequence) + 1;
}

bool TransferReceiver::arrivesWhileWriting(
    const Packet& packet, qint64 nowMs, int pauseMs, DeviceJournal& journal)
{
    const bool receivingSectors
        = receiving == Receiving::StylesSectors || receiving == Receiving::EnsembleSectors;
    if (!receivingSectors || sectorPackets != packetsPerSector || nowMs - sectorEndedAt >= pauseMs)
        return false;
    violation(QStringLiteral("%1 arrived %2 ms after sector %3 ended, while it was being written")
                  .arg(packet.name)
                  .arg(nowMs - sectorEndedAt)
                  .arg(sectorCount),
        journal);
    return true;
}

// While a rejected transfer's packets keep coming they are dropped without a word; a packet that
// begins another transfer before the quiet period has reset the device is reported, so that a
// valid stream is never lost unseen.
bool TransferReceiver::continuesRejected(Receiving what, const QString& packetName, DeviceJournal& journal)
{
    if (receiving != Receiving::Rejected)
        return false;
    if (what != rejected) {
        violation(QStringLiteral("%1 begins a transfer the device ignores: it still rejects the one before")
                      .arg(packetName),
            journal);
        rejected = what;
    }
    return true;
}

bool TransferReceiver::terminationDue(Receiving what, const SimulatedDeviceSettings& settings)
{
    const bool dspBetaOrLater = ((settings.dspWord >> 8) & 0xFF) >= 1;
    if (what == Receiving::StylesSectors)
        return dspBetaOrLater;
    return settings.model == Plus && dspBetaOrLater;
}

void TransferReceiver::beginReceiving(Receiving what, DeviceJournal& journal)
{
    if (receiving != Receiving::Nothing && receiving != Receiving::Rejected)
        journal.log(QStringLiteral("transfer abandoned: another began"));
    receiving = what;
    buffer.clear();
    checksum = 0;
    sectorPackets = 0;
    sectorCount = 0;
    sectorEndedAt = -1;
    lastDataSequence = -1;
}

int TransferReceiver::finishSectors()
{
    const int component
        = receiving == Receiving::StylesSectors ? SimulatedDevice::Styles : SimulatedDevice::Ensemble;
    receiving = Receiving::Nothing;
    return component;
}

void TransferReceiver::streamData(const Packet& packet, DeviceJournal& journal)
{
    const bool mcu = packet.command == 0x0004;
    const unsigned expectedLength = mcu ? 56 : 54;
    const Receiving stream = mcu ? Receiving::McuStream : Receiving::DspStream;
    ++packets;
    if (continuesRejected(stream, packet.name, journal)) {
        followSequence(packet.sequence);
        return;
    }
    if (receiving != stream)
        beginReceiving(stream, journal);
    const bool inOrder = checkSequence(packet.sequence, journal);
    lastDataSequence = int(packet.sequence);
    if (!inOrder)
        return;
    if (packet.length != expectedLength) {
        violation(QStringLiteral("%1 has length %2, expected %3")
                      .arg(packet.name)
                      .arg(packet.length)
                      .arg(expectedLength),
            journal);
        return;
    }
    if (!mcu && (packet.payload[54] != 0 || packet.payload[55] != 0)) {
        violation(QStringLiteral("%1 carries bytes beyond its 54").arg(packet.name), journal);
        return;
    }
    for (unsigned i = 0; i < expectedLength; ++i)
        checksum ^= packet.payload[i];
    buffer.append(reinterpret_cast<const char*>(packet.payload), int(expectedLength));
}

int TransferReceiver::streamEnd(const Packet& packet, DeviceJournal& journal)
{
    const bool mcu = packet.command == 0x0005;
    const Receiving stream = mcu ? Receiving::McuStream : Receiving::DspStream;
    if (receiving == Receiving::Rejected) {
        journal.log(QStringLiteral("end packet of a rejected stream ignored; nothing installed"));
        receiving = Receiving::Nothing;
        return noComponent;
    }
    if (receiving != stream) {
        violation(QStringLiteral("%1: end packet without a stream").arg(packet.name), journal);
        return noComponent;
    }
    if (int(packet.sequence) != lastDataSequence) {
        violation(QStringLiteral("%1: end packet must repeat the last data sequence %2")
                      .arg(packet.name)
                      .arg(lastDataSequence),
            journal);
    } else if (packet.length != 0) {
        violation(
            QStringLiteral("%1: end packet with length %2").arg(packet.name).arg(packet.length), journal);
    } else if (!checkZero(packet, 1, journal)) {
    } else if (packet.payload[0] != checksum) {
        violation(QStringLiteral("%1: checksum %2, the data gives %3")
                      .arg(packet.name)
                      .arg(packet.payload[0], 2, 16, QLatin1Char('0'))
                      .arg(checksum, 2, 16, QLatin1Char('0')),
            journal);
    } else {
        receiving = Receiving::Nothing;
        return mcu ? SimulatedDevice::Mcu : SimulatedDevice::Dsp;
    }
    receiving = Receiving::Nothing;
    return noComponent;
}

void TransferReceiver::sectorData(
    const Packet& packet, qint64 nowMs, const SimulatedDeviceSettings& settings, DeviceJournal& journal)
{
    const bool styles = packet.command == 0x0014;
    const Receiving sectors = styles ? Receiving::StylesSectors : Receiving::EnsembleSectors;
    ++packets;
    if (continuesRejected(sectors, packet.name, journal)) {
        followSequence(packet.sequence);
        return;
    }
    if (receiving != sectors) {
        beginReceiving(sectors, journal);
        if (styles && settings.model != Plus)
            violation(QStringLiteral("%1: a Pelk has no Styles memory").arg(packet.name), journal);
    }
    const bool inOrder = checkSequence(packet.sequence, journal);
    if (receiving == Receiving::Rejected || !inOrder)
        return;
    // The pause after the sector before was checked on arrival.
    if (sectorPackets == packetsPerSector)
        sectorPackets = 0;
    if (sectorPackets == 0) {
        ++sectorCount;
        const int limit = styles ? 32 : (settings.model == Plus ? 208 : 80);
        if (sectorCount > limit) {
            violation(QStringLiteral("%1: sector %2 is beyond the memory of %3 sectors")
                          .arg(packet.name)
                          .arg(sectorCount)
                          .arg(limit),
                journal);
            return;
        }
    }
    const unsigned expectedLength = sectorPackets == packetsPerSector - 1 ? lastChunkSize : 56;
    if (packet.length != expectedLength) {
        violation(QStringLiteral("%1: packet %2 of sector %3 has length %4, expected %5")
                      .arg(packet.name)
                      .arg(sectorPackets + 1)
                      .arg(sectorCount)
                      .arg(packet.length)
                      .arg(expectedLength),
            journal);
        return;
    }
    if (expectedLength == lastChunkSize && !checkZero(packet, lastChunkSize, journal))
        return;
    buffer.append(reinterpret_cast<const char*>(packet.payload), int(expectedLength));
    if (++sectorPackets == packetsPerSector)
        sectorEndedAt = nowMs;
}

int TransferReceiver::terminate(
    const Packet& packet, const SimulatedDeviceSettings& settings, DeviceJournal& journal)
{
    if (packet.sequence != 0 || packet.length != 0)
        violation(
            QStringLiteral("%1: terminating packet must carry sequence 0 and length 0").arg(packet.name),
            journal);
    checkZero(packet, 0, journal);
    if (receiving == Receiving::Rejected) {
        receiving = Receiving::Nothing;
        return noComponent;
    }
    if (receiving != Receiving::StylesSectors && receiving != Receiving::EnsembleSectors) {
        violation(QStringLiteral("%1: terminating packet without sectors").arg(packet.name), journal);
        return noComponent;
    }
    if (!terminationDue(receiving, settings)) {
        violation(QStringLiteral("%1: terminating packet where none is due").arg(packet.name), journal);
        receiving = Receiving::Nothing;
        return noComponent;
    }
    if (sectorPackets != packetsPerSector) {
        violation(QStringLiteral("%1: terminating packet inside sector %2").arg(packet.name).arg(sectorCount),
            journal);
        receiving = Receiving::Nothing;
        return noComponent;
    }
    return finishSectors();
}

int TransferReceiver::quiet(const SimulatedDeviceSettings& settings, DeviceJournal& journal)
{
    const Receiving was = receiving;
    // A host may stop a transfer anywhere; what it left unfinished is abandoned, not a fault.
    if (was == Receiving::StylesSectors || was == Receiving::EnsembleSectors) {
        if (sectorPackets != 0 && sectorPackets != packetsPerSector) {
            journal.log(QStringLiteral("transfer abandoned: stopped after %1 of %2 packets of sector %3")
                            .arg(sectorPackets)
                            .arg(packetsPerSector)
                            .arg(sectorCount));
        } else if (terminationDue(was, settings)) {
            journal.log(
                QStringLiteral("transfer abandoned: no terminating packet after sector %1").arg(sectorCount));
        } else {
            return finishSectors();
        }
    } else if (was != Receiving::Rejected) {
        journal.log(QStringLiteral("transfer abandoned: no end packet"));
    }
    receiving = Receiving::Nothing;
    return noComponent;
}

} // namespace PelkPlus
