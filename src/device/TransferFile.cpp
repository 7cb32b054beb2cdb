#include "device/TransferFile.h"

#include <cstdlib>

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

unsigned char* loadTransferFile(const char* path, long* size)
{
    std::FILE* file = openMeasuredFile(path, size);
    if (!file)
        return nullptr;
    auto* data = static_cast<unsigned char*>(std::malloc(size_t(*size > 0 ? *size : 1)));
    const bool read = data && std::fread(data, 1, size_t(*size), file) == size_t(*size) && !std::ferror(file);
    std::fclose(file);
    if (!read) {
        traceReadError();
        std::free(data);
        return nullptr;
    }
    return data;
}

LinkResult sendLoadedFile(DeviceLink* link, const char* path, const ProgressHandler* progress, SendBytes send)
{
    long size = 0;
    unsigned char* data = loadTransferFile(path, &size);
    if (!data)
        return LinkFileOpenFailed;
    const LinkResult result = send(link, data, size, path, progress);
    std::free(data);
    return result;
}

bool readTransferLine(TransferBytes* bytes, char* line, int length)
{
    if (bytes->position >= bytes->size || length < 2)
        return false;
    int count = 0;
    while (count < length - 1 && bytes->position < bytes->size) {
        const char c = static_cast<char>(bytes->data[bytes->position++]);
        line[count++] = c;
        if (c == '\n')
            break;
    }
    line[count] = '\0';
    return true;
}

void traceReadError()
{
    std::printf("Failed to read file.\n");
    std::fflush(stdout);
}

} // namespace PelkPlus
