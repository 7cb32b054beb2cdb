// The simulated device's handling of what a host sends: any sequence of output reports, quiet
// periods, reconnections and restarts, at any pace. Reports are either raw bytes or packets built
// the way the host builds them (signature, command, length, running sequence, checksum), so that
// whole streams and flash sectors are within reach.
#include "FuzzSupport.h"

#include "SimulatedDevice.h"

#include <QVector>

#include <algorithm>

using namespace PelkPlus;

namespace {

class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size)
        : bytes(data)
        , inputSize(size)
    { }
    bool atEnd() const { return at >= inputSize; }
    std::uint8_t byte() { return atEnd() ? 0 : bytes[at++]; }

private:
    const std::uint8_t* bytes;
    std::size_t inputSize;
    std::size_t at = 0;
};

const unsigned commands[] = { 0x0004, 0x0005, 0x0002, 0x0003, 0x0014, 0x0007, 0x0015, 0x000A, 0x0012 };

QByteArray packet(
    unsigned command, unsigned length, unsigned sequence, const unsigned char* payload, int payloadSize)
{
    QByteArray report(65, '\0');
    auto* r = reinterpret_cast<unsigned char*>(report.data());
    r[1] = 0xDB;
    r[2] = 0x03;
    r[3] = command & 0xFF;
    r[4] = command >> 8;
    r[5] = length & 0xFF;
    r[6] = length >> 8;
    r[7] = sequence & 0xFF;
    r[8] = sequence >> 8 & 0xFF;
    std::copy(payload, payload + std::min(payloadSize, 56), r + 9);
    return report;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::uint8_t setup = in.byte();
    SimulatedDevice::Settings settings;
    settings.model = setup & 1 ? Plus : Base;
    settings.dspWord = setup & 2 ? 0x0310 : 0x0010;
    settings.mcuWord = setup & 4 ? 0x0312 : 0x0050;
    settings.clearBaseReleaseBits = setup & 8;
    settings.dropOffAfterInstall = !(setup & 16);
    settings.ready = SimulatedDevice::ReadyBehaviour((setup >> 5) & 3);
    settings.header
        = setup & 128 ? SimulatedDevice::HeaderBehaviour::BadCount : SimulatedDevice::HeaderBehaviour::Normal;
    settings.unplugAfterPacket = in.byte() == 1 ? in.byte() : -1;
    SimulatedDevice device(settings);

    qint64 now = 0;
    unsigned sequence = 0;
    unsigned char checksum = 0;
    unsigned lastData = 0;
    int sectorPacket = 0;
    QVector<QByteArray> replies;
    int installs = 0;
    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        now += qint64(in.byte()) * 16;
        SimulatedDevice::Request request = SimulatedDevice::Request::None;
        switch (op & 7) {
        case 0: { // raw report
            QByteArray report(65, '\0');
            for (char& c : report)
                c = char(in.byte());
            request = device.receive(report, now, replies);
            break;
        }
        case 1:
        case 2: { // host-built packets, repeated
            const unsigned command = commands[(op >> 3) % (sizeof commands / sizeof *commands)];
            const std::uint8_t lengthByte = in.byte();
            unsigned char payload[56] = {};
            for (int i = 0; i < 4; ++i)
                payload[i] = in.byte();
            // Up to 252 packets, or one to four whole flash sectors from 0xFC on.
            const std::uint8_t count = (op & 7) == 2 ? in.byte() : 0;
            const int repeat = count >= 0xFC ? (count - 0xFB) * 1171 : 1 + count;
            for (int n = 0; n < repeat; ++n) {
                const bool data
                    = command == 0x0004 || command == 0x0002 || command == 0x0014 || command == 0x0007;
                const bool sector = command == 0x0014 || command == 0x0007;
                unsigned length = lengthByte;
                if (lengthByte == 0xFF) // the length the host would send
                    length = command == 0x0002 ? 54 : (sector && sectorPacket == 1170) ? 16 : data ? 56 : 0;
                unsigned packetSequence = 0;
                if (data) {
                    packetSequence = sequence;
                    lastData = sequence;
                    sequence = sequence >= 65535 ? 0 : sequence + 1;
                    for (unsigned i = 0; i < std::min(length, 56u); ++i)
                        checksum ^= payload[i];
                    if (sector)
                        sectorPacket = (sectorPacket + 1) % 1171;
                } else if (command == 0x0005 || command == 0x0003) {
                    packetSequence = lastData;
                    payload[0] = checksum;
                    checksum = 0;
                } else if (command == 0x000A) {
                    packetSequence = sequence;
                    sequence = sequence >= 65535 ? 0 : sequence + 1;
                }
                if (command == 0x0012) {
                    payload[0] = 0x0B;
                    length = lengthByte == 0xFF ? 3 : length;
                }
                request = device.receive(packet(command, length, packetSequence, payload, 56), now, replies);
                // A sector's write pause, when the sector is whole.
                if (sector && sectorPacket == 0)
                    now += 2100;
                if (request != SimulatedDevice::Request::None)
                    break;
            }
            break;
        }
        case 3:
            request = device.idle(now);
            break;
        case 4:
            device.connectionOpened();
            sequence = 0;
            break;
        case 5:
            device.restarted();
            sequence = 0;
            break;
        default: // a short or long report
            request = device.receive(QByteArray(op >> 3, char(0xDB)), now, replies);
            break;
        }
        for (const QByteArray& reply : replies)
            fuzzAssert(reply.size() == 64, "every input report is 64 bytes");
        replies.clear();
        fuzzAssert(device.installCount() >= installs, "installations are counted up");
        installs = device.installCount();
        if (request == SimulatedDevice::Request::Reboot) {
            fuzzAssert(device.rebootPending(), "a reboot requested is pending");
            device.restarted();
            sequence = 0;
        }
    }
    return 0;
}
