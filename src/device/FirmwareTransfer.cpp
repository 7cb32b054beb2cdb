// Streams of MCU and DSP firmware: data packets back to back, then one end packet with the
// 8-bit XOR checksum of the data. Nothing is acknowledged by the device.
#include "device/DeviceLink.h"

#include "device/DeviceProtocol.h"
#include "device/TransferFile.h"

#include <cstdio>
#include <cstring>

namespace PelkPlus {

namespace {

constexpr int mcuPayloadSize = DeviceProtocol::mcuPayloadSize;
constexpr int dspPayloadSize = DeviceProtocol::dspPayloadSize;
constexpr long traceStep = 1024;

// What tells the two streams apart besides how their payload is read.
struct StreamKind
{
    unsigned dataCommand;
    unsigned endCommand;
    int payloadSize;
    const char* sentTrace; // "kb" for the MCU, "Kb" for the DSP, as the device tools print them
    const char* totalTrace;
    const char* doneTrace;
};

struct StreamState
{
    long sent = 0;
    unsigned char checksum = 0;
    bool end = false;
};

LinkResult sendEndPacket(DeviceLink* link, unsigned command, unsigned char checksum)
{
    const unsigned char payload[1] = { checksum };
    return writePacket(link, command, 0, false, link->lastSequence, payload, 1);
}

// Sends packets until fill meets the end of the file (or refuses a line, or cannot read), asking the handler
// after each packet whether to stop; then the totals and, on success, the end packet. fill(payload, state)
// fills one payload and returns LinkOk or the reason to give up before the packet is sent; fraction(state,
// total) gives the progress and what is passed as its total.
template <typename Fill, typename Fraction>
LinkResult streamFile(
    DeviceLink* link, const StreamKind& kind, const ProgressHandler* progress, Fill fill, Fraction fraction)
{
    prepareCommand(link, kind.dataCommand, unsigned(kind.payloadSize));
    unsigned char* payload = link->outReport + 9;
    StreamState state;
    long lastReported = 0;
    LinkResult result = LinkOk;
    for (;;) {
        result = fill(payload, state);
        if (result != LinkOk)
            break;
        if (writeCountedPacket(link) != LinkOk) {
            result = LinkWriteFailed;
            std::printf("Failed to send packet.\n");
            std::fflush(stdout);
            break;
        }
        long total = 0;
        const float done = fraction(state, total);
        const bool stop
            = progress && progress->function && progress->function(done, total, progress->context) != 0;
        if (state.sent - lastReported >= traceStep) {
            std::printf(kind.sentTrace, state.sent / 1024);
            lastReported = state.sent;
            std::fflush(stdout);
        }
        if (stop) {
            result = LinkStopped;
            std::printf("Interrupted!\n");
            std::fflush(stdout);
            break;
        }
        if (state.end)
            break;
    }
    std::printf(kind.totalTrace, state.sent / 1024);
    std::printf("Checksum: %X\n", unsigned(state.checksum));
    std::fflush(stdout);
    if (result == LinkOk) {
        if (sendEndPacket(link, kind.endCommand, state.checksum) != LinkOk)
            result = LinkWriteFailed;
        std::printf("Sent end packet.\n");
        std::fflush(stdout);
    }
    std::printf("%s", kind.doneTrace);
    std::fflush(stdout);
    return result;
}

// Zero-fills the rest of a payload once the file has ended; "EOF." is traced once.
void endOfFile(unsigned char* payload, int from, int size, StreamState& state)
{
    if (!state.end)
        std::printf("EOF.\n");
    state.end = true;
    std::memset(payload + from, 0, size_t(size - from));
}

} // namespace

LinkResult sendMcuFirmwareBytes(
    DeviceLink* link, const unsigned char* data, long size, const char* name, const ProgressHandler* progress)
{
    std::printf("Sending Micro FW: %s\n", name);
    std::fflush(stdout);
    TransferBytes bytes { data, size, 0 };
    static const StreamKind mcu { McuDataCommand, McuEndCommand, mcuPayloadSize, "Sent: %ld kb\n",
        "Total sent: %ld kb\n", "Done sending micro firmware.\n" };
    auto fill = [&bytes](unsigned char* payload, StreamState& state) {
        for (int i = 0; i < mcuPayloadSize; ++i) {
            if (bytes.position >= bytes.size) {
                endOfFile(payload, i, mcuPayloadSize, state);
                break;
            }
            const unsigned char c = bytes.data[bytes.position++];
            payload[i] = c;
            state.checksum ^= c;
            ++state.sent;
        }
        return LinkResult(LinkOk);
    };
    auto fraction = [size](const StreamState& state, long& total) {
        total = size;
        // An empty file makes the fraction 0/0; report it as complete instead.
        return size > 0 ? float(state.sent) / float(size) : 1.0f;
    };
    return streamFile(link, mcu, progress, fill, fraction);
}

LinkResult sendDspFirmwareBytes(
    DeviceLink* link, const unsigned char* data, long size, const char* name, const ProgressHandler* progress)
{
    std::printf("Sending DSP FW: %s\n", name);
    std::fflush(stdout);
    // Each well-formed line ("0x", up to two digits and its line end) is one piece of at most nine
    // characters, so the pieces count the values.
    TransferBytes bytes { data, size, 0 };
    char piece[16];
    long lines = 0;
    while (readTransferLine(&bytes, piece, 10))
        ++lines;
    bytes.position = 0;

    static const StreamKind dsp { DspDataCommand, DspEndCommand, dspPayloadSize, "Sent: %ld Kb\n",
        "Total sent: %ld Kb\n", "Done sending DSP firmware.\n" };
    auto fill = [&bytes](unsigned char* payload, StreamState& state) {
        char line[16];
        for (int i = 0; i < dspPayloadSize; ++i) {
            if (!readTransferLine(&bytes, line, 9)) {
                endOfFile(payload, i, dspPayloadSize, state);
                break;
            }
            // A malformed line ends the transfer before the packet being filled is written.
            if (line[0] != '0' || line[1] != 'x')
                return LinkResult(LinkDspFileMalformed);
            unsigned value = 0;
            if (std::sscanf(line + 2, "%x", &value) != 1)
                value = 0;
            if (value > 0xFF)
                return LinkResult(LinkDspFileMalformed);
            payload[i] = static_cast<unsigned char>(value);
            state.checksum ^= static_cast<unsigned char>(value);
            ++state.sent;
        }
        return LinkResult(LinkOk);
    };
    auto fraction = [&bytes, lines](const StreamState&, long& total) {
        total = lines;
        return bytes.size > 0 ? float(bytes.position) / float(bytes.size) : 1.0f;
    };
    return streamFile(link, dsp, progress, fill, fraction);
}

LinkResult sendMcuFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    return sendLoadedFile(link, path, progress, &sendMcuFirmwareBytes);
}

LinkResult sendDspFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    return sendLoadedFile(link, path, progress, &sendDspFirmwareBytes);
}

} // namespace PelkPlus
