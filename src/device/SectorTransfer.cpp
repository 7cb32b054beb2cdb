// Styles and Ensemble Audio go into the device's flash in 64 KiB sectors: 1171 packets each,
// then a pause while the device writes the sector. The device acknowledges nothing.
#include "device/DeviceLink.h"

#include "device/DeviceModel.h"
#include "device/DeviceProtocol.h"
#include "device/TransferFile.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace PelkPlus {

namespace {

constexpr int sectorSize = DeviceProtocol::sectorSize;
constexpr int chunkSize = DeviceProtocol::sectorPayloadSize;
constexpr long stylesSectorLimit = 32;
constexpr long ensembleSectorLimitPlus = 208;
constexpr long ensembleSectorLimitBase = 80;

bool dspIsBetaOrLater(const DeviceLink* link)
{
    return (link->header.dspWord >> 8) >= 1;
}

// Everything the two data components share; they differ in command, limit, checksum width and
// when the terminating packet is due.
struct SectorComponent
{
    unsigned command;
    long sectorLimit;
    const char* tooBigTrace;
    int checksumBytes;
    bool terminate;
    const char* checksumTrace;
};

LinkResult sendSectors(DeviceLink* link, const unsigned char* data, long size,
    const ProgressHandler* progress, const SectorComponent& component)
{
    const long sectors = (size + sectorSize - 1) / sectorSize;
    if (sectors > component.sectorLimit) {
        std::printf("%s", component.tooBigTrace);
        return LinkFileTooBig;
    }

    unsigned long checksum = 0;
    long sent = 0;
    int sectorNumber = 0;
    for (;;) {
        const long left = size - sent;
        const int count = int(left < sectorSize ? left : sectorSize);
        const unsigned char* sector = data + sent;
        std::printf("Read sector: %d bytes\n", count);
        std::fflush(stdout);
        const bool lastRead = count < sectorSize;
        if (lastRead) {
            std::printf("EOF\n");
            std::fflush(stdout);
        }
        if (count == 0)
            break;
        ++sectorNumber;
        std::printf("Sending sector %d/%d...\n", sectorNumber, int(sectors));
        std::fflush(stdout);
        // XOR of little-endian words; a final partial word takes zeros for its missing high bytes.
        for (int i = 0; i < count; i += component.checksumBytes) {
            unsigned long word = 0;
            for (int b = 0; b < component.checksumBytes && i + b < count; ++b)
                word |= static_cast<unsigned long>(sector[i + b]) << (8 * b);
            checksum ^= word;
        }
        const LinkResult result = writeSector(link, component.command, sector, count, sent, size, progress);
        if (result != LinkOk)
            return result;
        std::printf("Sector %d/%d written.\n", sectorNumber, int(sectors));
        std::fflush(stdout);
        sent += count;
        if (lastRead)
            break;
    }
    if (component.terminate) {
        std::printf("Sending terminating packet...\n");
        std::fflush(stdout);
        if (writePacket(link, TerminateCommand, 0, false, 0, nullptr, 0) != LinkOk)
            return LinkWriteFailed;
    }
    std::printf("Total Kb written: %d\n", int(sent / 1024));
    std::printf(component.checksumTrace, static_cast<unsigned>(checksum));
    std::fflush(stdout);
    return LinkOk;
}

} // namespace

LinkResult writeSector(DeviceLink* link, unsigned command, const unsigned char* data, int length,
    long sentBefore, long fileSize, const ProgressHandler* progress)
{
    std::printf("Progress: ");
    std::fflush(stdout);
    int remaining = sectorSize;
    int index = 0;
    int lastTenth = 10;
    LinkResult result = LinkOk;
    for (;;) {
        const int chunk = remaining < chunkSize ? remaining : chunkSize;
        prepareCommand(link, command, unsigned(chunk));
        for (int i = 0; i < chunk && index < length; ++i)
            link->outReport[9 + i] = data[index++];
        remaining -= chunk;
        if (writeCountedPacket(link) != LinkOk) {
            result = LinkWriteFailed;
            std::printf("Error writing packet.\n");
            std::fflush(stdout);
            break;
        }
        if (progress && progress->function) {
            const float fraction = fileSize > 0 ? float(sentBefore + index) / float(fileSize) : 1.0f;
            if (progress->function(fraction, fileSize, progress->context) != 0) {
                result = LinkStopped;
                std::printf("Interrupted!\n");
                std::fflush(stdout);
                break;
            }
        }
        const int tenth = int(long(remaining) * 10 / sectorSize);
        if (tenth < lastTenth) {
            std::printf(".");
            std::fflush(stdout);
            lastTenth = tenth;
        }
        if (remaining == 0)
            break;
    }
    std::printf("\n");
    std::fflush(stdout);
    if (result != LinkOk)
        return result;
    std::printf("Sector sent. Waiting to be written...\n");
    std::fflush(stdout);
    const int pauseMs = DeviceProtocol::sectorPause();
    if (progress && progress->pause) {
        if (progress->pause(pauseMs, progress->context) != 0) {
            std::printf("Interrupted!\n");
            std::fflush(stdout);
            return LinkStopped;
        }
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return LinkOk;
}

LinkResult sendStylesBytes(
    DeviceLink* link, const unsigned char* data, long size, const char* name, const ProgressHandler* progress)
{
    std::printf("Sending styles: %s\n", name);
    std::fflush(stdout);
    if (link->model != Plus) {
        std::printf("Not supported.\n");
        std::fflush(stdout);
        return LinkNotSupported;
    }
    const SectorComponent styles { StylesSectorDataCommand, stylesSectorLimit,
        "Style data too big for flash.\n", 2, dspIsBetaOrLater(link), "Checksum = %4.4X\n" };
    return sendSectors(link, data, size, progress, styles);
}

LinkResult sendEnsembleAudioBytes(
    DeviceLink* link, const unsigned char* data, long size, const char* name, const ProgressHandler* progress)
{
    std::printf("Sending ensemble audio: %s\n", name);
    std::fflush(stdout);
    const SectorComponent ensemble { EnsembleSectorDataCommand,
        link->model == Plus ? ensembleSectorLimitPlus : ensembleSectorLimitBase,
        "Ensemble audio data too big for this device.\n", 4, link->model == Plus && dspIsBetaOrLater(link),
        "Checksum = %8.8X\n" };
    return sendSectors(link, data, size, progress, ensemble);
}

LinkResult sendStyles(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    return sendLoadedFile(link, path, progress, &sendStylesBytes);
}

LinkResult sendEnsembleAudio(DeviceLink* link, const char* path, const ProgressHandler* progress)
{
    return sendLoadedFile(link, path, progress, &sendEnsembleAudioBytes);
}

} // namespace PelkPlus
