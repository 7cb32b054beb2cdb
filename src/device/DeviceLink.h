#pragma once

#include "device/HeaderRecord.h"
#include "device/LinkResult.h"
#include "device/ProgressHandler.h"

namespace PelkPlus {

struct HidBackend;
struct HidDevice;

// One open device: the HID handle and the backend that opened it (which alone may read, write and
// close it, whatever backend is chosen meanwhile), the packet sequence counter, the two report
// buffers and the header read at open time. Used by one thread at a time.
struct DeviceLink
{
    const HidBackend* backend = nullptr;
    HidDevice* handle = nullptr;
    int model = 0;
    int nextSequence = 0;
    int lastSequence = 0;
    unsigned char outReport[65] = {};
    unsigned char inReport[64] = {};
    HeaderRecord header;
};

// Packet commands.
enum LinkCommand : unsigned {
    McuEndCommand = 0x0005,
    McuDataCommand = 0x0004,
    DspDataCommand = 0x0002,
    DspEndCommand = 0x0003,
    EnsembleSectorDataCommand = 0x0007,
    HeaderReplyCommand = 0x0009,
    HeaderRequestCommand = 0x000A,
    ReadyQueryCommand = 0x0012,
    ReadyReplyCommand = 0x0013,
    StylesSectorDataCommand = 0x0014,
    TerminateCommand = 0x0015,
};

// Opens the device at path and reads its header; null on failure with the code in error (when given):
// LinkAccessDenied when the path may not be opened by this account, LinkDeviceBusy when another
// updater has the device open, LinkOpenFailed for any other failed open.
DeviceLink* openLink(const char* path, int model, int timeoutMs, int* error);
void closeLink(DeviceLink* link);
HeaderRecord linkHeader(const DeviceLink* link);

LinkResult requestHeader(DeviceLink* link, int timeoutMs);
// Looks, without waiting and without writing, whether the device is still there: LinkReadFailed
// once its handle has gone dead (unplugged, restarted), LinkOk otherwise. A report that was waiting
// is read and dropped.
LinkResult checkLinkAlive(DeviceLink* link);
LinkResult checkReply(DeviceLink* link, unsigned command, unsigned count);
LinkResult queryReadyForUpdate(DeviceLink* link, int timeoutMs, int* ready);

// Builds a packet in the link's write buffer (cleared first) and writes it. A counted packet takes
// nextSequence and advances the counter once written; an uncounted one carries the given sequence.
LinkResult writePacket(DeviceLink* link, unsigned command, unsigned length, bool counted, int sequence,
    const unsigned char* payload, unsigned payloadLength);

// Clears the write buffer and sets signature, command and length field.
void prepareCommand(DeviceLink* link, unsigned command, unsigned length);
// Writes the packet prepared in outReport with the next counted sequence number and advances the
// counter once written.
LinkResult writeCountedPacket(DeviceLink* link);

// Each transfer reads its file whole before the first packet, so nothing read later can differ
// from what was read first. The ...Bytes forms send bytes already in memory (the very bytes whose
// digest was checked), name standing for the path in the trace.

// Firmware streams.
LinkResult sendMcuFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress);
LinkResult sendDspFirmware(DeviceLink* link, const char* path, const ProgressHandler* progress);
LinkResult sendMcuFirmwareBytes(DeviceLink* link, const unsigned char* data, long size, const char* name,
    const ProgressHandler* progress);
LinkResult sendDspFirmwareBytes(DeviceLink* link, const unsigned char* data, long size, const char* name,
    const ProgressHandler* progress);

// Flash sectors.
LinkResult writeSector(DeviceLink* link, unsigned command, const unsigned char* data, int length,
    long sentBefore, long fileSize, const ProgressHandler* progress);
LinkResult sendStyles(DeviceLink* link, const char* path, const ProgressHandler* progress);
LinkResult sendEnsembleAudio(DeviceLink* link, const char* path, const ProgressHandler* progress);
LinkResult sendStylesBytes(DeviceLink* link, const unsigned char* data, long size, const char* name,
    const ProgressHandler* progress);
LinkResult sendEnsembleAudioBytes(DeviceLink* link, const unsigned char* data, long size, const char* name,
    const ProgressHandler* progress);

} // namespace PelkPlus
