#include "device/RecordingBackend.h"

#include "device/HidBackend.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace PelkPlus {

namespace {

// What the wrapper hands out in place of the wrapped backend's handle.
struct RecordedDevice
{
    HidDevice* inner = nullptr;
    int id = 0;
};

struct Recording
{
    std::mutex lock;
    std::FILE* file = nullptr;
    std::string path;
    const HidBackend* inner = nullptr;
    std::chrono::steady_clock::time_point start;
    int nextId = 1;
};

Recording recording;
std::atomic<const char*> activePath { nullptr };

double millisecondsSinceStart()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - recording.start)
        .count();
}

// Writes one line; the caller holds the lock. Flushed at once: a session that ends in a crash or a
// hang is the one most worth having.
void writeLine(QJsonObject object)
{
    object.insert(QStringLiteral("t"), qRound64(millisecondsSinceStart() * 1000) / 1000.0);
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), recording.file);
    std::fputc('\n', recording.file);
    std::fflush(recording.file);
}

QJsonValue text(const char* value)
{
    return value ? QJsonValue(QString::fromLocal8Bit(value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue text(const wchar_t* value)
{
    return value ? QJsonValue(QString::fromWCharArray(value)) : QJsonValue(QJsonValue::Null);
}

QString hex(const unsigned char* data, int length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(data), length).toHex());
}

// The C library's reason, when the backend left one (hidapi does not always).
void noteError(QJsonObject& line, int reason)
{
    if (!reason)
        return;
    line.insert(QStringLiteral("errno"), reason);
    line.insert(QStringLiteral("error"), QString::fromLocal8Bit(std::strerror(reason)));
}

HidDeviceEntry* enumerate(unsigned short vendorId, unsigned short productId)
{
    HidDeviceEntry* entries = recording.inner->enumerate(vendorId, productId);
    QJsonArray listed;
    for (const HidDeviceEntry* entry = entries; entry; entry = entry->next) {
        listed.append(QJsonObject { { QStringLiteral("path"), text(entry->path) },
            { QStringLiteral("vendor"), int(entry->vendorId) },
            { QStringLiteral("product"), int(entry->productId) },
            { QStringLiteral("serial"), text(entry->serialNumber) } });
    }
    std::lock_guard<std::mutex> guard(recording.lock);
    writeLine({ { QStringLiteral("call"), QStringLiteral("enumerate") },
        { QStringLiteral("vendor"), int(vendorId) }, { QStringLiteral("product"), int(productId) },
        { QStringLiteral("entries"), listed } });
    return entries;
}

void freeEnumeration(HidDeviceEntry* entries)
{
    recording.inner->freeEnumeration(entries);
}

HidDevice* openPath(const char* path)
{
    errno = 0;
    HidDevice* inner = recording.inner->openPath(path);
    const int reason = errno;
    std::lock_guard<std::mutex> guard(recording.lock);
    QJsonObject line { { QStringLiteral("call"), QStringLiteral("open") },
        { QStringLiteral("path"), text(path) } };
    RecordedDevice* device = nullptr;
    if (inner) {
        device = new RecordedDevice { inner, recording.nextId++ };
        line.insert(QStringLiteral("device"), device->id);
        line.insert(QStringLiteral("result"), QStringLiteral("ok"));
    } else {
        line.insert(QStringLiteral("result"), QStringLiteral("failed"));
        noteError(line, reason);
    }
    writeLine(line);
    errno = reason;
    return reinterpret_cast<HidDevice*>(device);
}

int writeReport(HidDevice* handle, const unsigned char* data, size_t length)
{
    auto* device = reinterpret_cast<RecordedDevice*>(handle);
    errno = 0;
    const int result = recording.inner->write(device ? device->inner : nullptr, data, length);
    const int reason = errno;
    std::lock_guard<std::mutex> guard(recording.lock);
    QJsonObject line { { QStringLiteral("call"), QStringLiteral("write") },
        { QStringLiteral("device"), device ? device->id : 0 }, { QStringLiteral("result"), result },
        { QStringLiteral("data"), hex(data, int(length)) } };
    if (result < 0)
        noteError(line, reason);
    writeLine(line);
    return result;
}

int readReport(HidDevice* handle, unsigned char* data, size_t length, int milliseconds)
{
    auto* device = reinterpret_cast<RecordedDevice*>(handle);
    errno = 0;
    const int result
        = recording.inner->readTimeout(device ? device->inner : nullptr, data, length, milliseconds);
    const int reason = errno;
    std::lock_guard<std::mutex> guard(recording.lock);
    QJsonObject line { { QStringLiteral("call"), QStringLiteral("read") },
        { QStringLiteral("device"), device ? device->id : 0 }, { QStringLiteral("timeout"), milliseconds },
        { QStringLiteral("result"), result } };
    if (result > 0)
        line.insert(QStringLiteral("data"), hex(data, result));
    else if (result < 0)
        noteError(line, reason);
    writeLine(line);
    return result;
}

void closeDevice(HidDevice* handle)
{
    auto* device = reinterpret_cast<RecordedDevice*>(handle);
    if (!device)
        return;
    recording.inner->close(device->inner);
    std::lock_guard<std::mutex> guard(recording.lock);
    writeLine(
        { { QStringLiteral("call"), QStringLiteral("close") }, { QStringLiteral("device"), device->id } });
    delete device;
}

HidBackend wrapper { nullptr, enumerate, freeEnumeration, openPath, writeReport, readReport, closeDevice };

} // namespace

const HidBackend* recordingBackend(const HidBackend* inner, const char* filePath)
{
    if (!inner || !filePath || !*filePath)
        return nullptr;
    std::lock_guard<std::mutex> guard(recording.lock);
    // Two threads may make the program's first choice of backend at once: one recording it is.
    if (recording.file && recording.path == filePath && recording.inner == inner)
        return &wrapper;
    if (recording.file) {
        std::fclose(recording.file);
        recording.file = nullptr;
        activePath.store(nullptr);
    }
    std::FILE* file = std::fopen(filePath, "we");
    if (!file)
        return nullptr;
    recording.file = file;
    recording.path = filePath;
    recording.inner = inner;
    recording.start = std::chrono::steady_clock::now();
    recording.nextId = 1;
    // Named as the backend it wraps: everything else sees the same bus.
    wrapper.name = inner->name;
    writeLine({ { QStringLiteral("call"), QStringLiteral("start") },
        { QStringLiteral("backend"), QString::fromLatin1(inner->name) } });
    activePath.store(recording.path.c_str());
    return &wrapper;
}

const char* hidRecordingPath()
{
    return activePath.load();
}

} // namespace PelkPlus
