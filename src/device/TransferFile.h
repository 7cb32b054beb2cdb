#pragma once

#include <cstdio>

namespace PelkPlus {

// The file a transfer sends, opened with the given stdio mode; traces "Failed to open file." and
// returns null when it cannot be opened.
std::FILE* openTransferFile(const char* path, const char* mode);

// The file's length in bytes, with the file rewound to its start; traces the failure and returns
// -1 when the length cannot be taken (a pipe, for one), since then nothing bounds what is sent.
long transferFileLength(std::FILE* file);

// Opens the file in binary mode and measures it: null, traced, when either fails; the file is
// then closed again and nothing is sent.
std::FILE* openMeasuredFile(const char* path, long* size);

// Traces a failed read of the file. A read error is never taken for the end of the file: the
// device would receive a truncated image that looks complete.
void traceReadError();

} // namespace PelkPlus
