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
LinkResult streamFile(DeviceLink* link, std::FILE* file, const StreamKind& kind,
    const ProgressHandler* progress, Fill fill, Fraction fraction)
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
    std::fclose(file);
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

LinkResult sendMcuFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    std::printf("Sending Micro FW: %s\n", path);
    std::fflush(stdout);
    long size = 0;
    std::FILE* file = openMeasuredFile(path, &size);
    if (!file)
        return LinkFileOpenFailed;

    static const StreamKind mcu { McuDataCommand, McuEndCommand, mcuPayloadSize, "Sent: %ld kb\n",
        "Total sent: %ld kb\n", "Done sending micro firmware.\n" };
    auto fill = [file](unsigned char* payload, StreamState& state) {
        for (int i = 0; i < mcuPayloadSize; ++i) {
            const int c = std::fgetc(file);
            if (c == EOF) {
                if (std::ferror(file)) {
                    traceReadError();
                    return LinkResult(LinkFileOpenFailed);
                }
                endOfFile(payload, i, mcuPayloadSize, state);
                break;
            }
            payload[i] = static_cast<unsigned char>(c);
            state.checksum ^= static_cast<unsigned char>(c);
            ++state.sent;
        }
        return LinkResult(LinkOk);
    };
    auto fraction = [size](const StreamState& state, long& total) {
        total = size;
        // An empty file makes the fraction 0/0; report it as complete instead.
        return size > 0 ? float(state.sent) / float(size) : 1.0f;
    };
    return streamFile(link, file, mcu, progress, fill, fraction);
}

LinkResult sendDspFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    std::printf("Sending DSP FW: %s\n", path);
    std::fflush(stdout);
    std::FILE* file = openTransferFile(path, "r");
    if (!file)
        return LinkFileOpenFailed;
    // Each well-formed line ("0x", up to two digits and its line end) is one piece of at most nine
    // characters, so the pieces count the values.
    char piece[16];
    long lines = 0;
    while (std::fgets(piece, 10, file))
        ++lines;
    const bool readFailed = std::ferror(file) != 0;
    if (readFailed)
        traceReadError();
    const long length = readFailed ? -1 : transferFileLength(file);
    if (length < 0) {
        std::fclose(file);
        return LinkFileOpenFailed;
    }

    static const StreamKind dsp { DspDataCommand, DspEndCommand, dspPayloadSize, "Sent: %ld Kb\n",
        "Total sent: %ld Kb\n", "Done sending DSP firmware.\n" };
    auto fill = [file](unsigned char* payload, StreamState& state) {
        char line[16];
        for (int i = 0; i < dspPayloadSize; ++i) {
            if (!std::fgets(line, 9, file)) {
                if (std::ferror(file)) {
                    traceReadError();
                    return LinkResult(LinkFileOpenFailed);
                }
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
    auto fraction = [file, length, lines](const StreamState&, long& total) {
        total = lines;
        const long position = std::ftell(file);
        return length > 0 ? float(position) / float(length) : 1.0f;
    };
    return streamFile(link, file, dsp, progress, fill, fraction);
}

} // namespace PelkPlus
