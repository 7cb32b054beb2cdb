// How fast the device link builds and writes packets when the device takes them at once, and
// that a transfer allocates nothing per packet. Prints packets per second for each transfer kind.
#include "device/DeviceLink.h"
#include "device/HidBackend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<qint64> allocations { 0 };
qint64 writes = 0;

PelkPlus::HidDevice* const fakeHandle = reinterpret_cast<PelkPlus::HidDevice*>(0x1);

PelkPlus::HidDeviceEntry* noDevices(unsigned short, unsigned short)
{
    return nullptr;
}
void freeNothing(PelkPlus::HidDeviceEntry*) { }
PelkPlus::HidDevice* openAny(const char*)
{
    return fakeHandle;
}
int countWrite(PelkPlus::HidDevice*, const unsigned char*, size_t length)
{
    ++writes;
    return int(length);
}
// Answers the header request; nothing else reads.
int headerReply(PelkPlus::HidDevice*, unsigned char* data, size_t, int)
{
    std::fill(data, data + 64, 0);
    data[0] = 0xDB;
    data[1] = 0x03;
    data[2] = 0x09;
    data[19] = 0x01; // Beta DSP
    return 64;
}
void closeNothing(PelkPlus::HidDevice*) { }
const PelkPlus::HidBackend countingBackend { "counting", noDevices, freeNothing, openAny, countWrite,
    headerReply, closeNothing };

int progressCalls(float, long, void* context)
{
    ++*static_cast<long*>(context);
    return 0;
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(std::rand());
    return bytes;
}

} // namespace

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

int main()
{
    using namespace PelkPlus;
    setHidBackend(&countingBackend);
    QTemporaryDir dir;
    const QString mcuPath = dir.filePath(QStringLiteral("mcu.bin"));
    const QString dspPath = dir.filePath(QStringLiteral("dsp.txt"));
    const QString dataPath = dir.filePath(QStringLiteral("data.bin"));
    {
        const QByteArray mcu = randomBytes(4 << 20);
        QFile f(mcuPath);
        f.open(QIODevice::WriteOnly);
        f.write(mcu);
        QByteArray text;
        for (char c : mcu.left(1 << 20))
            text += "0x" + QByteArray::number(quint8(c), 16) + '\n';
        QFile d(dspPath);
        d.open(QIODevice::WriteOnly);
        d.write(text);
    }
    DeviceLink* link = openLink("bench", 1, 100, nullptr);
    if (!link)
        return 1;

    // The link's own traces would dominate the timing on a terminal.
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    struct Case
    {
        const char* name;
        LinkResult (*transfer)(DeviceLink*, const char*, const ProgressHandler*);
        QString path;
        double megabytes;
    } cases[] = {
        { "MCU stream, 4 MiB", sendMcuFirmware, mcuPath, 4.0 },
        { "DSP stream, 1 MiB of values", sendDspFirmware, dspPath, 1.0 },
    };
    QByteArray report;
    for (const Case& c : cases) {
        writes = 0;
        long calls = 0;
        ProgressHandler handler { progressCalls, &calls };
        const qint64 before = allocations.load();
        QElapsedTimer clock;
        clock.start();
        const LinkResult result = c.transfer(link, c.path.toLocal8Bit().constData(), &handler);
        const double seconds = clock.nsecsElapsed() / 1e9;
        const qint64 allocated = allocations.load() - before;
        report += QByteArray(c.name) + ": result " + QByteArray::number(result) + ", "
            + QByteArray::number(writes) + " packets in " + QByteArray::number(seconds, 'f', 3)
            + " s = " + QByteArray::number(writes / seconds, 'f', 0) + " packets/s, "
            + QByteArray::number(c.megabytes / seconds, 'f', 1) + " MB/s, " + QByteArray::number(allocated)
            + " heap allocations in the whole transfer ("
            + QByteArray::number(double(allocated) / writes, 'f', 4) + " per packet)\n";
    }
    // One sector goes through writeSector without the pause between sectors being measured.
    {
        const QByteArray sector = randomBytes(65536);
        writes = 0;
        const qint64 before = allocations.load();
        QElapsedTimer clock;
        clock.start();
        const unsigned char* data = reinterpret_cast<const unsigned char*>(sector.constData());
        writeSector(link, EnsembleSectorDataCommand, data, sector.size(), 0, sector.size(), nullptr);
        const double seconds = clock.nsecsElapsed() / 1e9 - 2.1;
        report += "Sector, 64 KiB: " + QByteArray::number(writes) + " packets, "
            + QByteArray::number(seconds * 1000, 'f', 3) + " ms besides the 2.1 s write pause, "
            + QByteArray::number(allocations.load() - before) + " heap allocations\n";
    }
    closeLink(link);
    std::fclose(quiet);
    std::fprintf(stderr, "%s", report.constData());
    return 0;
}
