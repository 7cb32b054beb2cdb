#include "device/TransferFile.h"

namespace PelkPlus {

std::FILE* openTransferFile(const char* path, const char* mode)
{
    std::FILE* file = std::fopen(path, mode);
    if (!file) {
        std::printf("Failed to open file.\n");
        std::fflush(stdout);
    }
    return file;
}

long transferFileLength(std::FILE* file)
{
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::printf("Failed to measure file.\n");
        std::fflush(stdout);
        return -1;
    }
    return length;
}

std::FILE* openMeasuredFile(const char* path, long* size)
{
    std::FILE* file = openTransferFile(path, "rb");
    if (!file)
        return nullptr;
    *size = transferFileLength(file);
    if (*size < 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void traceReadError()
{
    std::printf("Failed to read file.\n");
    std::fflush(stdout);
}

} // namespace PelkPlus
