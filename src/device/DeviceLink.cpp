#include "device/DeviceLink.h"

#include "device/DeviceProtocol.h"
#include "device/HidBackend.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace PelkPlus {

namespace {
constexpr int maxSequence = 65535;
constexpr unsigned payloadCapacity = DeviceProtocol::maxPayloadSize;
} // namespace

DeviceLink* openLink(const char* path, int model, int timeoutMs, int* error)
{
    errno = 0;
    const HidBackend* backend = hidBackend();
    HidDevice* handle = backend->openPath(path);
    if (!handle) {
        const int reason = errno;
        if (error)
            *error = reason == EACCES || reason == EPERM ? LinkAccessDenied
                : reason == EBUSY                        ? LinkDeviceBusy
                                                         : LinkOpenFailed;
        return nullptr;
    }
    auto* link = new DeviceLink;
    link->backend = backend;
    link->handle = handle;
    link->model = model;
    const LinkResult result = requestHeader(link, timeoutMs);
    if (result != LinkOk) {
        backend->close(handle);
        delete link;
        if (error)
            *error = result;
        return nullptr;
    }
    return link;
}

void closeLink(DeviceLink* link)
{
    if (!link)
        return;
    link->backend->close(link->handle);
    delete link;
}

HeaderRecord linkHeader(const DeviceLink* link)
{
    return link->header;
}

void prepareCommand(DeviceLink* link, unsigned command, unsigned length)
{
    unsigned char* out = link->outReport;
    std::memset(out, 0, sizeof(link->outReport));
    out[1] = 0xDB;
    out[2] = 0x03;
    out[3] = static_cast<unsigned char>(command & 0xFF);
    out[4] = static_cast<unsigned char>((command >> 8) & 0xFF);
    out[5] = static_cast<unsigned char>(length & 0xFF);
    out[6] = static_cast<unsigned char>((length >> 8) & 0xFF);
}

namespace {

void setSequence(DeviceLink* link, int sequence)
{
    link->outReport[7] = static_cast<unsigned char>(sequence & 0xFF);
    link->outReport[8] = static_cast<unsigned char>((sequence >> 8) & 0xFF);
}

using ReplyCheck = LinkResult (*)(DeviceLink* link);

LinkResult checkHeaderReply(DeviceLink* link)
{
    return checkReply(link, HeaderReplyCommand, 0);
}

// Only the command's low byte and the echoed query byte are compared.
LinkResult checkReadyReply(DeviceLink* link)
{
    return link->inReport[2] == 0x13 && link->inReport[8] == 0x0B ? LinkOk : LinkReadyReplyUnknown;
}

// Rounded up: a read is never given less than what is left of the wait.
int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? int((left.count() + 999) / 1000) : 0;
}

// Reads reports into inReport until one passes check or timeoutMs have passed. The buffer is cleared
// before every read, so that nothing of an earlier report is taken for part of this one; a report
// shorter than the buffer, or one that answers something else (a stray report the device had
// queued), is skipped. When time runs out after such a report, the last one's result is returned:
// the device did answer, only not as asked. -1 from the device is a read failure.
LinkResult readReply(DeviceLink* link, int timeoutMs, ReplyCheck check)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    LinkResult unmatched = LinkTimeout;
    int waitMs = timeoutMs;
    for (;;) {
        std::memset(link->inReport, 0, sizeof(link->inReport));
        const int got
            = link->backend->readTimeout(link->handle, link->inReport, sizeof(link->inReport), waitMs);
        if (got == -1)
            return LinkReadFailed;
        if (got == 0)
            return unmatched;
        unmatched = got < int(sizeof(link->inReport)) ? LinkShortReply : check(link);
        if (unmatched == LinkOk)
            return LinkOk;
        waitMs = millisecondsUntil(deadline);
        if (waitMs == 0)
            return unmatched;
    }
}

} // namespace

LinkResult writeCountedPacket(DeviceLink* link)
{
    const int sequence = link->nextSequence;
    setSequence(link, sequence);
    if (link->backend->write(link->handle, link->outReport, sizeof(link->outReport)) == -1)
        return LinkWriteFailed;
    link->lastSequence = sequence;
    link->nextSequence = sequence + 1 > maxSequence ? 0 : sequence + 1;
    return LinkOk;
}

LinkResult writePacket(DeviceLink* link, unsigned command, unsigned length, bool counted, int sequence,
    const unsigned char* payload, unsigned payloadLength)
{
    prepareCommand(link, command, length);
    if (payload && payloadLength)
        std::memcpy(
            link->outReport + 9, payload, payloadLength < payloadCapacity ? payloadLength : payloadCapacity);
    if (counted)
        return writeCountedPacket(link);
    setSequence(link, sequence);
    if (link->backend->write(link->handle, link->outReport, sizeof(link->outReport)) == -1)
        return LinkWriteFailed;
    return LinkOk;
}

LinkResult requestHeader(DeviceLink* link, int timeoutMs)
{
    LinkResult result = writePacket(link, HeaderRequestCommand, 0, true, 0, nullptr, 0);
    if (result != LinkOk)
        return result;
    result = readReply(link, timeoutMs, &checkHeaderReply);
    if (result != LinkOk)
        return result;
    link->header = decodeHeader(link->inReport, link->model);
    return LinkOk;
}

LinkResult checkLinkAlive(DeviceLink* link)
{
    std::memset(link->inReport, 0, sizeof(link->inReport));
    return link->backend->readTimeout(link->handle, link->inReport, sizeof(link->inReport), 0) == -1
        ? LinkReadFailed
        : LinkOk;
}

LinkResult checkReply(DeviceLink* link, unsigned command, unsigned count)
{
    const unsigned char* in = link->inReport;
    if (in[0] != 0xDB || in[1] != 0x03)
        return LinkBadSignature;
    if ((unsigned(in[3]) << 8 | in[2]) != command)
        return LinkBadCommand;
    const unsigned found = unsigned(in[6]) * 256 + in[5];
    if (found != count) {
        std::printf("bytes: %d\n", int(found));
        std::fflush(stdout);
        return LinkBadCount;
    }
    return LinkOk;
}

LinkResult queryReadyForUpdate(DeviceLink* link, int timeoutMs, int* ready)
{
    static const unsigned char payload[3] = { 0x0B, 0x00, 0x00 };
    const LinkResult result = writePacket(link, ReadyQueryCommand, 3, false, 0, payload, sizeof(payload));
    if (result != LinkOk)
        return result;
    const LinkResult read = readReply(link, timeoutMs, &checkReadyReply);
    if (read != LinkOk)
        return read;
    if (ready)
        *ready = link->inReport[10];
    return LinkOk;
}

} // namespace PelkPlus
