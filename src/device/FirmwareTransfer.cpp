// Streams of MCU and DSP firmware: data packets back to back, then one end packet with the
// 8-bit XOR checksum of the data. Nothing is acknowledged by the device.
#include "device/DeviceLink.h"

#include "device/HidBackend.h"

#include <cstdio>
#include <cstring>

namespace PelkPlus {

namespace {

constexpr int mcuPayloadSize = 56;
constexpr int dspPayloadSize = 54;
constexpr long traceStep = 1024;

// Writes the packet prepared in outReport with the next counted sequence number.
LinkResult writeCounted(DeviceLink* link)
{
    const int sequence = link->nextSequence;
    link->outReport[7] = static_cast<unsigned char>(sequence & 0xFF);
    link->outReport[8] = static_cast<unsigned char>((sequence >> 8) & 0xFF);
    if (hidBackend()->write(link->handle, link->outReport, sizeof(link->outReport)) == -1)
        return LinkWriteFailed;
    link->lastSequence = sequence;
    link->nextSequence = sequence + 1 > 65535 ? 0 : sequence + 1;
    return LinkOk;
}

void prepareHeader(DeviceLink* link, unsigned command, unsigned length)
{
    std::memset(link->outReport, 0, sizeof(link->outReport));
    link->outReport[1] = 0xDB;
    link->outReport[2] = 0x03;
    link->outReport[3] = static_cast<unsigned char>(command & 0xFF);
    link->outReport[4] = static_cast<unsigned char>((command >> 8) & 0xFF);
    link->outReport[5] = static_cast<unsigned char>(length & 0xFF);
    link->outReport[6] = static_cast<unsigned char>((length >> 8) & 0xFF);
}

LinkResult sendEndPacket(DeviceLink* link, unsigned command, unsigned char checksum)
{
    const unsigned char payload[1] = { checksum };
    return writePacket(link, command, 0, false, link->lastSequence, payload, 1);
}

bool askToStop(const ProgressHandler* progress, float fraction, long total)
{
    return progress && progress->function && progress->function(fraction, total, progress->context) != 0;
}

} // namespace

LinkResult sendMcuFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    std::printf("Sending Micro FW: %s\n", path);
    std::fflush(stdout);
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::printf("Failed to open file.\n");
        std::fflush(stdout);
        return LinkFileOpenFailed;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::rewind(file);

    prepareHeader(link, McuDataCommand, mcuPayloadSize);
    unsigned char* payload = link->outReport + 9;
    long sent = 0;
    long lastReported = 0;
    unsigned char checksum = 0;
    bool end = false;
    LinkResult result = LinkOk;
    for (;;) {
        for (int i = 0; i < mcuPayloadSize; ++i) {
            const int c = end ? EOF : std::fgetc(file);
            if (c == EOF) {
                if (!end)
                    std::printf("EOF.\n");
                end = true;
                std::memset(payload + i, 0, size_t(mcuPayloadSize - i));
                break;
            }
            payload[i] = static_cast<unsigned char>(c);
            checksum ^= static_cast<unsigned char>(c);
            ++sent;
        }
        if (writeCounted(link) != LinkOk) {
            result = LinkWriteFailed;
            std::printf("Failed to send packet.\n");
            std::fflush(stdout);
            break;
        }
        // An empty file makes the fraction 0/0; report it as complete instead.
        const float fraction = size > 0 ? float(sent) / float(size) : 1.0f;
        const bool stop = askToStop(progress, fraction, size);
        if (sent - lastReported >= traceStep) {
            std::printf("Sent: %ld kb\n", sent / 1024);
            lastReported = sent;
            std::fflush(stdout);
        }
        if (stop) {
            result = LinkStopped;
            std::printf("Interrupted!\n");
            std::fflush(stdout);
            break;
        }
        if (end)
            break;
    }
    std::printf("Total sent: %ld kb\n", sent / 1024);
    std::printf("Checksum: %X\n", unsigned(checksum));
    std::fflush(stdout);
    if (result == LinkOk) {
        if (sendEndPacket(link, McuEndCommand, checksum) != LinkOk)
            result = LinkWriteFailed;
        std::printf("Sent end packet.\n");
        std::fflush(stdout);
    }
    std::fclose(file);
    std::printf("Done sending micro firmware.\n");
    std::fflush(stdout);
    return result;
}

LinkResult sendDspFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    std::printf("Sending DSP FW: %s\n", path);
    std::fflush(stdout);
    std::FILE* file = std::fopen(path, "r");
    if (!file) {
        std::printf("Failed to open file.\n");
        std::fflush(stdout);
        return LinkFileOpenFailed;
    }
    // Each well-formed line ("0x" and up to two digits and its line end) is one piece of at most
    // nine characters, so the pieces count the values.
    char piece[16];
    long lines = 0;
    while (std::fgets(piece, 10, file))
        ++lines;
    const long length = std::ftell(file);
    std::rewind(file);

    prepareHeader(link, DspDataCommand, dspPayloadSize);
    unsigned char* payload = link->outReport + 9;
    long sent = 0;
    long lastReported = 0;
    unsigned char checksum = 0;
    bool end = false;
    LinkResult result = LinkOk;
    for (;;) {
        for (int i = 0; i < dspPayloadSize; ++i) {
            if (end || !std::fgets(piece, 9, file)) {
                if (!end)
                    std::printf("EOF.\n");
                end = true;
                std::memset(payload + i, 0, size_t(dspPayloadSize - i));
                break;
            }
            if (piece[0] != '0' || piece[1] != 'x') {
                result = LinkDspFileMalformed;
                break;
            }
            unsigned value = 0;
            if (std::sscanf(piece + 2, "%x", &value) != 1)
                value = 0;
            if (value > 0xFF) {
                result = LinkDspFileMalformed;
                break;
            }
            payload[i] = static_cast<unsigned char>(value);
            checksum ^= static_cast<unsigned char>(value);
            ++sent;
        }
        if (result != LinkOk)
            break;
        if (writeCounted(link) != LinkOk) {
            result = LinkWriteFailed;
            std::printf("Failed to send packet.\n");
            std::fflush(stdout);
            break;
        }
        const long position = std::ftell(file);
        const float fraction = length > 0 ? float(position) / float(length) : 1.0f;
        const bool stop = askToStop(progress, fraction, lines);
        if (sent - lastReported >= traceStep) {
            std::printf("Sent: %ld Kb\n", sent / 1024);
            lastReported = sent;
            std::fflush(stdout);
        }
        if (stop) {
            result = LinkStopped;
            std::printf("Interrupted!\n");
            std::fflush(stdout);
            break;
        }
        if (end)
            break;
    }
    std::printf("Total sent: %ld Kb\n", sent / 1024);
    std::printf("Checksum: %X\n", unsigned(checksum));
    std::fflush(stdout);
    if (result == LinkOk) {
        if (sendEndPacket(link, DspEndCommand, checksum) != LinkOk)
            result = LinkWriteFailed;
        std::printf("Sent end packet.\n");
        std::fflush(stdout);
    }
    std::fclose(file);
    std::printf("Done sending DSP firmware.\n");
    std::fflush(stdout);
    return result;
}

} // namespace PelkPlus
