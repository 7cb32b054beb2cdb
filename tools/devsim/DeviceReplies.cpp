#include "DeviceReplies.h"

namespace PelkPlus {

namespace {
constexpr int inputSize = 64;
} // namespace

QByteArray DeviceReplies::header(const SimulatedDeviceSettings& settings)
{
    QByteArray reply(inputSize, '\0');
    auto* r = reinterpret_cast<unsigned char*>(reply.data());
    const SimulatedDeviceSettings& s = settings;
    r[0] = 0xDB;
    r[1] = 0x03;
    r[2] = 0x09;
    r[10] = s.ensembleVersion & 0xFF;
    r[11] = (s.ensembleVersion >> 8) & 0xFF;
    r[12] = (s.ensembleVersion >> 16) & 0xFF;
    r[13] = 0xA5; // not part of any version
    r[14] = (s.ensembleVersion >> 24) & 0xFF;
    r[15] = s.stylesVersion & 0xFF;
    r[16] = (s.stylesVersion >> 8) & 0xFF;
    unsigned mcuHigh = (s.mcuWord >> 8) & 0xFF;
    unsigned dspHigh = (s.dspWord >> 8) & 0xFF;
    if (s.model == Base && s.clearBaseReleaseBits) {
        mcuHigh &= ~0x03u;
        dspHigh &= ~0x03u;
    }
    r[20] = s.mcuWord & 0xFF;
    r[21] = static_cast<unsigned char>(mcuHigh);
    if (s.model == Plus && s.mcuWord <= 0x0064) {
        // Old MCU firmware packs the DSP version into one byte: release type bits at 7 and 3,
        // major in bits 6-4, minor in bits 2-0. The byte after it means nothing then.
        r[18]
            = static_cast<unsigned char>(((dspHigh >> 1) & 1) << 7 | (dspHigh & 1) << 3 | (s.dspWord & 0x77));
        r[19] = 0xEE;
    } else {
        r[18] = s.dspWord & 0xFF;
        r[19] = static_cast<unsigned char>(dspHigh);
    }
    r[22] = s.tag & 0xFF;
    r[23] = (s.tag >> 8) & 0xFF;
    switch (s.header) {
    case SimulatedHeaderBehaviour::BadSignature:
        r[0] = 0xDC;
        break;
    case SimulatedHeaderBehaviour::BadCommand:
        r[2] = 0x0A;
        break;
    case SimulatedHeaderBehaviour::BadCount:
        r[5] = 0x02;
        break;
    default:
        break;
    }
    return reply;
}

QByteArray DeviceReplies::ready(int ready)
{
    QByteArray reply(inputSize, '\0');
    reply[0] = char(0xDB);
    reply[1] = 0x03;
    reply[2] = 0x13;
    reply[8] = 0x0B;
    reply[10] = char(ready);
    return reply;
}

} // namespace PelkPlus
