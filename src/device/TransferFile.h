#pragma once

#include "device/LinkResult.h"

#include <cstdio>

namespace PelkPlus {

struct DeviceLink;
struct ProgressHandler;

// A transfer of bytes in memory; name stands for the file in the trace.
using SendBytes = LinkResult (*)(DeviceLink* link, const unsigned char* data, long size, const char* name,
    const ProgressHandler* progress);

// The file a transfer sends, opened with the given stdio mode; traces "Failed to open file." and
// returns null when it cannot be opened.
std::FILE* openTransferFile(const char* path, const char* mode);

// The file's length in bytes, with the file rewound to its start; traces the failure and returns
// -1 when the length cannot be taken (a pipe, for one), since then nothing bounds what is sent.
long transferFileLength(std::FILE* file);

// Opens the file in binary mode and measures it: null, traced, when either fails; the file is
// then closed again and nothing is sent.
std::FILE* openMeasuredFile(const char* path, long* size);

// Reads the whole file into memory, to be released with std::free; null, traced, when it cannot
// be opened, measured or read to its end. A transfer then sends exactly the bytes read here.
unsigned char* loadTransferFile(const char* path, long* size);

// Reads the file whole, then sends it with send; LinkFileOpenFailed, traced, when it cannot be read.
LinkResult sendLoadedFile(
    DeviceLink* link, const char* path, const ProgressHandler* progress, SendBytes send);

// The bytes a transfer sends, read in order as the transfers once read a file.
struct TransferBytes
{
    const unsigned char* data;
    long size;
    long position;
};

// Reads as fgets does: at most length - 1 characters, up to and with a line end; false at the end.
bool readTransferLine(TransferBytes* bytes, char* line, int length);

// Traces a failed read of the file. A read error is never taken for the end of the file: the
// device would receive a truncated image that looks complete.
void traceReadError();

} // namespace PelkPlus
