#include "device/DeviceAgent.h"
#include "device/DeviceInfo.h"
#include "device/DeviceLink.h"
#include "device/DeviceModel.h"
#include "device/DeviceMonitor.h"
#include "device/FirmwareVersion.h"
#include "support/StdoutCapture.h"
#include "support/TestEnvironment.h"
#include "support/VirtualBus.h"
#include "support/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PelkPlus;

namespace {

struct ProgressLog
{
    QList<float> fractions;
    QList<long> totals;
    int stopAtCall = -1;
};

int recordProgress(float fraction, long total, void* context)
{
    auto* log = static_cast<ProgressLog*>(context);
    log->fractions.append(fraction);
    log->totals.append(total);
    return log->fractions.size() == log->stopAtCall ? 1 : 0;
}

QByteArray patternBytes(int size, int seed = 7)
{
    QByteArray bytes(size, '\0');
    quint32 state = quint32(seed);
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = char(state >> 16);
    }
    return bytes;
}

quint8 xorOf(const QByteArray& bytes)
{
    quint8 sum = 0;
    for (char c : bytes)
        sum ^= quint8(c);
    return sum;
}

QByteArray dspText(const QByteArray& bytes)
{
    QByteArray text;
    for (char c : bytes)
        text += "0x" + QByteArray::number(quint8(c), 16) + '\n';
    return text;
}

// What goes wrong with the file while it is being sent.
enum SourceFault {
    ReadErrorAfterFirstPacket, // the file's descriptor starts failing its reads
    FromPipe,                  // a pipe: its length cannot be taken
    GrowsAfterFirstPacket,     // data is appended while the transfer runs
    AgentDeletedInPause,       // the agent goes away while the device writes the first sector
};

struct FaultAtFirstPacket
{
    int fault = 0;
    QString path;
    bool done = false;
};

// Makes the transfer's own descriptor of the file fail from its next read on (a directory read
// gives EISDIR), as a failing disk would.
void breakReadsOf(const QString& path)
{
    const QByteArray target = QFileInfo(path).canonicalFilePath().toLocal8Bit();
    QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(name)).toLocal8Bit() != target)
            continue;
        const int directory = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::dup2(directory, name.toInt());
        ::close(directory);
    }
}

int faultAtFirstPacket(float, long, void* context)
{
    auto* fault = static_cast<FaultAtFirstPacket*>(context);
    if (fault->done)
        return 0;
    fault->done = true;
    if (fault->fault == ReadErrorAfterFirstPacket) {
        breakReadsOf(fault->path);
    } else if (fault->fault == GrowsAfterFirstPacket) {
        QFile file(fault->path);
        if (file.open(QIODevice::Append))
            file.write(QByteArray(65536, '\x5a'));
    }
    return 0;
}

} // namespace

class tst_Transfers : public QObject
{
    Q_OBJECT

private slots:
    void mcuStream_data();
    void mcuStream();
    void stopAfterFirstPacket_data();
    void stopAfterFirstPacket();
    void dspStream();
    void dspMalformed_data();
    void dspMalformed();
    void missingFile();
    void sectors_data();
    void sectors();
    void sectorLimits_data();
    void sectorLimits();
    void traces_data();
    void traces();
    void unsoundSources_data();
    void unsoundSources();

private:
    QString writeFile(const QString& name, const QByteArray& contents)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            return QString();
        return path;
    }

    DeviceLink* open(VirtualBus& bus, const SimulatedDeviceSettings& settings)
    {
        bus.addDevice(settings);
        int error = 0;
        DeviceLink* link = openLink(settings.path.toLocal8Bit().constData(), settings.model, 2000, &error);
        if (!link)
            qWarning("open failed with %d", error);
        return link;
    }

    QTemporaryDir dir;
};

void tst_Transfers::mcuStream_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("packets");
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("one full packet and an empty one") << 56 << 2;
    QTest::newRow("57 bytes") << 57 << 2;
    QTest::newRow("a few kilobytes") << 5000 << 90;
}

void tst_Transfers::mcuStream()
{
    QFETCH(int, size);
    QFETCH(int, packets);
    QByteArray image = patternBytes(size);
    if (size >= 64)
        image.replace(10, 14, SimulatedDevice::versionMarker(QStringLiteral("3.4.5")).leftJustified(14, 'x'));
    const QString path = writeFile(QStringLiteral("mcu.bin"), image);
    VirtualBus bus;
    SimulatedDeviceSettings settings;
    DeviceLink* link = open(bus, settings);
    QVERIFY(link);
    ProgressLog progress;
    ProgressHandler handler { recordProgress, &progress };
    QCOMPARE(sendMcuFirmware(link, path.toLocal8Bit().constData(), &handler), int(LinkOk));
    QCOMPARE(progress.fractions.size(), packets);
    QCOMPARE(progress.totals.last(), long(size));
    QCOMPARE(progress.fractions.last(), 1.0f);
    // The end packet repeats the last data packet's number; the counter then continues after it.
    QCOMPARE(link->lastSequence, packets);
    QCOMPARE(link->nextSequence, packets + 1);
    closeLink(link);

    QTRY_COMPARE(bus.device(0).installCount(), 1);
    const SimulatedDevice device = bus.device(0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
    QCOMPARE(device.packetsReceived(), packets);
    const QByteArray installed = device.installedImage(SimulatedDevice::Mcu);
    QCOMPARE(installed.size(), packets * 56);
    QCOMPARE(installed.left(size), image);
    QCOMPARE(installed.mid(size), QByteArray(packets * 56 - size, '\0'));
    QCOMPARE(device.receivedChecksum(SimulatedDevice::Mcu), xorOf(image));
    if (size >= 64)
        QCOMPARE(FirmwareVersion::fromWord(device.settings().mcuWord).toString(), QStringLiteral("3.4.5"));
    else
        QCOMPARE(device.settings().mcuWord, settings.mcuWord);
    QTRY_VERIFY(bus.events().join(QLatin1Char('\n')).contains(QLatin1String("rebooting")));
}

void tst_Transfers::stopAfterFirstPacket_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("size");
    QTest::newRow("mcu stream") << 0 << 500;
    QTest::newRow("sector") << 3 << 70000;
}

// A stop asked for at the first progress call: exactly one packet, no end packet and no pause, and
// the device installs nothing.
void tst_Transfers::stopAfterFirstPacket()
{
    QFETCH(int, kind);
    QFETCH(int, size);
    const QString path = writeFile(QStringLiteral("stop.bin"), patternBytes(size));
    VirtualBus bus;
    DeviceLink* link = open(bus, SimulatedDeviceSettings());
    QVERIFY(link);
    ProgressLog progress;
    progress.stopAtCall = 1;
    ProgressHandler handler { recordProgress, &progress };
    const QByteArray local = path.toLocal8Bit();
    QElapsedTimer clock;
    clock.start();
    const LinkResult result = kind == 0 ? sendMcuFirmware(link, local.constData(), &handler)
                                        : sendEnsembleAudio(link, local.constData(), &handler);
    QCOMPARE(result, int(LinkStopped));
    QVERIFY2(clock.elapsed() < 2000, "a stopped sector is not followed by its write pause");
    QCOMPARE(progress.fractions.size(), 1);
    QCOMPARE(link->lastSequence, 1);
    QCOMPARE(link->nextSequence, 2);
    closeLink(link);
    QTRY_COMPARE(bus.device(0).packetsReceived(), 1);
    QTest::qWait(200);
    QCOMPARE(bus.device(0).installCount(), 0);
}

void tst_Transfers::dspStream()
{
    QByteArray image = patternBytes(54 * 3);
    image.replace(0, 14, SimulatedDevice::versionMarker(QStringLiteral("2.3.1")).leftJustified(14, 'x'));
    const QString path = writeFile(QStringLiteral("dsp.txt"), dspText(image));
    VirtualBus bus;
    DeviceLink* link = open(bus, SimulatedDeviceSettings());
    QVERIFY(link);
    ProgressLog progress;
    ProgressHandler handler { recordProgress, &progress };
    QCOMPARE(sendDspFirmware(link, path.toLocal8Bit().constData(), &handler), int(LinkOk));
    // A multiple of 54 values is followed by one all-zero packet, as end of file is met only then.
    QCOMPARE(progress.fractions.size(), 4);
    QCOMPARE(progress.totals.last(), long(image.size()));
    QCOMPARE(progress.fractions.last(), 1.0f);
    QCOMPARE(link->lastSequence, 4);
    closeLink(link);
    QTRY_COMPARE(bus.device(0).installCount(), 1);
    const SimulatedDevice device = bus.device(0);
    QVERIFY(device.violations().isEmpty());
    QCOMPARE(device.installedImage(SimulatedDevice::Dsp), image + QByteArray(54, '\0'));
    QCOMPARE(device.receivedChecksum(SimulatedDevice::Dsp), xorOf(image));
    QCOMPARE(FirmwareVersion::fromWord(device.settings().dspWord).toString(), QStringLiteral("2.3.1"));
}

void tst_Transfers::dspMalformed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("packetsWritten");
    QTest::newRow("value above a byte") << QByteArray("0x12\n0x1FF\n") << int(LinkDspFileMalformed) << 0;
    QTest::newRow("no prefix") << QByteArray("0x12\n12\n") << int(LinkDspFileMalformed) << 0;
    QTest::newRow("upper-case prefix") << QByteArray("0X12\n") << int(LinkDspFileMalformed) << 0;
    QTest::newRow("empty last line") << QByteArray("0x12\n0x34\n\n") << int(LinkDspFileMalformed) << 0;
    QTest::newRow("line too long") << QByteArray("0x0000000012\n") << int(LinkDspFileMalformed) << 0;
    QTest::newRow("prefix without digits is zero") << QByteArray("0x\n0x01\n") << int(LinkOk) << 1;
    QTest::newRow("no line end at the end") << QByteArray("0x01\n0xfe") << int(LinkOk) << 1;
    QTest::newRow("second packet malformed") << dspText(patternBytes(60)) + "zz\n"
                                             << int(LinkDspFileMalformed) << 1;
}

void tst_Transfers::dspMalformed()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    QFETCH(int, packetsWritten);
    const QString path = writeFile(QStringLiteral("bad.txt"), text);
    VirtualBus bus;
    DeviceLink* link = open(bus, SimulatedDeviceSettings());
    QVERIFY(link);
    QCOMPARE(sendDspFirmware(link, path.toLocal8Bit().constData(), nullptr), expected);
    QCOMPARE(link->lastSequence, packetsWritten);
    closeLink(link);
    if (expected == LinkOk) {
        QTRY_COMPARE(bus.device(0).installCount(), 1);
        QCOMPARE(bus.device(0).installedImage(SimulatedDevice::Dsp).left(2),
            text.startsWith("0x\n") ? QByteArray("\x00\x01", 2) : QByteArray("\x01\xfe", 2));
    }
}

void tst_Transfers::missingFile()
{
    VirtualBus bus;
    DeviceLink* link = open(bus, SimulatedDeviceSettings());
    QVERIFY(link);
    const QByteArray missing = dir.filePath(QStringLiteral("missing")).toLocal8Bit();
    QCOMPARE(sendMcuFirmware(link, missing.constData(), nullptr), int(LinkFileOpenFailed));
    QCOMPARE(sendDspFirmware(link, missing.constData(), nullptr), int(LinkFileOpenFailed));
    QCOMPARE(sendStyles(link, missing.constData(), nullptr), int(LinkFileOpenFailed));
    QCOMPARE(sendEnsembleAudio(link, missing.constData(), nullptr), int(LinkFileOpenFailed));
    QCOMPARE(link->nextSequence, 1);
    closeLink(link);
}

void tst_Transfers::sectors_data()
{
    QTest::addColumn<int>("component");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("dsp");
    QTest::addColumn<int>("size");
    // The device model refuses a terminating packet where none is due and misses one where it is.

    QTest::newRow("styles, one byte, beta dsp") << int(SimulatedDevice::Styles) << int(Plus) << "1.0.0" << 1;
    QTest::newRow("styles, alpha dsp: no terminating packet")
        << int(SimulatedDevice::Styles) << int(Plus) << "0.9.9" << 100;
    QTest::newRow("ensemble, two whole sectors")
        << int(SimulatedDevice::Ensemble) << int(Plus) << "3.1.0" << 131072;
    QTest::newRow("ensemble on a pelk: never terminated")
        << int(SimulatedDevice::Ensemble) << int(Base) << "3.1.0" << 70000;
}

void tst_Transfers::sectors()
{
    QFETCH(int, component);
    QFETCH(int, model);
    QFETCH(QString, dsp);
    QFETCH(int, size);
    QByteArray image = patternBytes(size);
    if (size > 64)
        image.replace(0, 16, SimulatedDevice::versionMarker(QStringLiteral("0x1234")).leftJustified(16, 'x'));
    const QString path = writeFile(QStringLiteral("data.bin"), image);
    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.dspWord = parseFirmwareVersion(dsp).toWord();
    DeviceLink* link = open(bus, settings);
    QVERIFY(link);
    ProgressLog progress;
    ProgressHandler handler { recordProgress, &progress };
    const QByteArray local = path.toLocal8Bit();
    const int result = component == SimulatedDevice::Styles
        ? sendStyles(link, local.constData(), &handler)
        : sendEnsembleAudio(link, local.constData(), &handler);
    QCOMPARE(result, int(LinkOk));
    const int sectors = (size + 65535) / 65536;
    QCOMPARE(progress.fractions.size(), sectors * 1171);
    QCOMPARE(progress.fractions.last(), 1.0f);
    // The fraction reaches 1 with the packet that carries the last byte and stays there.
    const int lastBytePacket = ((size - 1) % 65536) / 56 + (sectors - 1) * 1171;
    QCOMPARE(progress.fractions.at(lastBytePacket), 1.0f);
    if (lastBytePacket > 0)
        QVERIFY(progress.fractions.at(lastBytePacket - 1) < 1.0f);
    QCOMPARE(link->lastSequence, sectors * 1171);
    closeLink(link);

    QTRY_COMPARE_WITH_TIMEOUT(bus.device(0).installCount(), 1, 10000);
    const SimulatedDevice device = bus.device(0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
    const QByteArray installed = device.installedImage(component);
    QCOMPARE(installed.size(), sectors * 65536);
    QCOMPARE(installed.left(size), image);
    QCOMPARE(installed.mid(size), QByteArray(sectors * 65536 - size, '\0'));
    if (size > 64) {
        if (component == SimulatedDevice::Styles)
            QCOMPARE(int(device.settings().stylesVersion), 0x1234);
        else
            QCOMPARE(device.settings().ensembleVersion, 0x1234u);
    }
}

void tst_Transfers::sectorLimits_data()
{
    QTest::addColumn<int>("component");
    QTest::addColumn<int>("model");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("expected");
    QTest::newRow("styles on a pelk")
        << int(SimulatedDevice::Styles) << int(Base) << qint64(10) << int(LinkNotSupported);
    QTest::newRow("styles one byte over")
        << int(SimulatedDevice::Styles) << int(Plus) << qint64(32 * 65536 + 1) << int(LinkFileTooBig);
    QTest::newRow("ensemble on a pelk one byte over")
        << int(SimulatedDevice::Ensemble) << int(Base) << qint64(80 * 65536 + 1) << int(LinkFileTooBig);
    QTest::newRow("ensemble on a pelk+ one byte over")
        << int(SimulatedDevice::Ensemble) << int(Plus) << qint64(208 * 65536 + 1) << int(LinkFileTooBig);
}

void tst_Transfers::sectorLimits()
{
    QFETCH(int, component);
    QFETCH(int, model);
    QFETCH(qint64, size);
    QFETCH(int, expected);
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
    }
    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.model = model;
    DeviceLink* link = open(bus, settings);
    QVERIFY(link);
    const QByteArray local = path.toLocal8Bit();
    const int result = component == SimulatedDevice::Styles
        ? sendStyles(link, local.constData(), nullptr)
        : sendEnsembleAudio(link, local.constData(), nullptr);
    QCOMPARE(result, expected);
    // Refusals come before any packet.
    QCOMPARE(link->nextSequence, 1);
    closeLink(link);
}

void tst_Transfers::traces_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("stopAtCall");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("trace");

    // 2000 bytes: the 19th packet takes the count past 1024; the 36th meets the end of the file.
    const QByteArray mcu = patternBytes(2000);
    QTest::newRow("mcu stream") << 0 << mcu << -1 << int(LinkOk)
                                << QByteArray("Sending Micro FW: %1\nSent: 1 kb\nEOF.\nTotal sent: 1 kb\n")
            + "Checksum: " + QByteArray::number(xorOf(mcu), 16).toUpper()
            + "\nSent end packet.\nDone sending micro firmware.\n";
    QTest::newRow("mcu stopped") << 0 << mcu << 1 << int(LinkStopped)
                                 << QByteArray(
                                        "Sending Micro FW: %1\nInterrupted!\nTotal sent: 0 kb\nChecksum: ")
            + QByteArray::number(xorOf(mcu.left(56)), 16).toUpper() + "\nDone sending micro firmware.\n";
    const QByteArray dsp = patternBytes(1100, 3);
    QTest::newRow("dsp stream") << 1 << dspText(dsp) << -1 << int(LinkOk)
                                << QByteArray("Sending DSP FW: %1\nSent: 1 Kb\nEOF.\nTotal sent: 1 Kb\n")
            + "Checksum: " + QByteArray::number(xorOf(dsp), 16).toUpper()
            + "\nSent end packet.\nDone sending DSP firmware.\n";
    // The values read before the bad line count in the totals, though their packet is never sent.
    const QByteArray values = patternBytes(60, 5);
    QTest::newRow("dsp malformed") << 1 << dspText(values) + "zz\n"
                                   << -1 << int(LinkDspFileMalformed)
                                   << QByteArray("Sending DSP FW: %1\nTotal sent: 0 Kb\nChecksum: ")
            + QByteArray::number(xorOf(values), 16).toUpper() + "\nDone sending DSP firmware.\n";
    QTest::newRow("styles, one byte")
        << 2 << QByteArray("\x01", 1) << -1 << int(LinkOk)
        << QByteArray("Sending styles: %1\nRead sector: 1 bytes\nEOF\n"
                      "Sending sector 1/1...\nProgress: ..........\n"
                      "Sector sent. Waiting to be written...\nSector 1/1 written.\n"
                      "Sending terminating packet...\nTotal Kb written: 0\n"
                      "Checksum = 0001\n");
    QTest::newRow("ensemble stopped") << 3 << QByteArray("\x01\x02\x03\x04\x05", 5) << 3 << int(LinkStopped)
                                      << QByteArray("Sending ensemble audio: %1\nRead sector: 5 bytes\nEOF\n"
                                                    "Sending sector 1/1...\nProgress: .Interrupted!\n\n");
    QTest::newRow("styles too big") << 2 << QByteArray(32 * 65536 + 1, '\0') << -1 << int(LinkFileTooBig)
                                    << QByteArray("Sending styles: %1\nStyle data too big for flash.\n");
}

void tst_Transfers::traces()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, contents);
    QFETCH(int, stopAtCall);
    QFETCH(int, expected);
    QFETCH(QByteArray, trace);
    const QString path = writeFile(QStringLiteral("traced.bin"), contents);
    QVERIFY(!path.isEmpty());
    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.model = Plus;
    settings.dspWord = 0x0100;
    DeviceLink* link = open(bus, settings);
    QVERIFY(link);
    ProgressLog progress;
    progress.stopAtCall = stopAtCall;
    ProgressHandler handler { recordProgress, &progress };
    const QByteArray local = path.toLocal8Bit();
    LinkResult (*const transfers[])(DeviceLink*, const char*, const ProgressHandler*)
        = { sendMcuFirmware, sendDspFirmware, sendStyles, sendEnsembleAudio };

    StdoutCapture capture(dir.filePath(QStringLiteral("stdout")));
    QVERIFY(capture.isOpen());
    const LinkResult result = transfers[kind](link, local.constData(), &handler);
    const QByteArray printed = capture.finish();
    closeLink(link);
    QCOMPARE(result, expected);
    QCOMPARE(printed, QByteArray(trace).replace("%1", local));
}

void tst_Transfers::unsoundSources_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("expected");
    // The device ends up with the file as it was measured, byte for byte, or with nothing at all.
    QTest::addColumn<bool>("installs");
    // The file is read whole before the first packet: a disk failing later cannot cut it short.
    QTest::newRow("mcu, read error") << 0 << int(ReadErrorAfterFirstPacket) << 200000 << 0 << true;
    QTest::newRow("dsp, read error") << 1 << int(ReadErrorAfterFirstPacket) << 40000 << 0 << true;
    QTest::newRow("styles, read error")
        << 2 << int(ReadErrorAfterFirstPacket) << 3 * 65536 - 100 << 0 << true;
    QTest::newRow("mcu, pipe") << 0 << int(FromPipe) << 5000 << 15 << false;
    QTest::newRow("dsp, pipe") << 1 << int(FromPipe) << 500 << 15 << false;
    QTest::newRow("ensemble, pipe") << 3 << int(FromPipe) << 70000 << 15 << false;
    QTest::newRow("styles, grows") << 2 << int(GrowsAfterFirstPacket) << 65536 + 100 << 0 << true;
    QTest::newRow("ensemble, agent deleted in the pause")
        << 3 << int(AgentDeletedInPause) << 2 * 65536 << -1 << false;
}

void tst_Transfers::unsoundSources()
{
    QFETCH(int, kind);
    QFETCH(int, fault);
    QFETCH(int, size);
    QFETCH(int, expected);
    QFETCH(bool, installs);
    const QByteArray image = patternBytes(size);
    const QByteArray contents = kind == 1 ? dspText(image) : image;
    QString path = dir.filePath(QStringLiteral("source"));
    QFile::remove(path);
    if (fault == FromPipe)
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        path = writeFile(QStringLiteral("source"), contents);
    const QByteArray local = QFile::encodeName(path);
    VirtualBus bus;
    SimulatedDeviceSettings settings;

    if (fault == AgentDeletedInPause) {
        bus.addDevice(settings);
        DeviceMonitor monitor;
        auto agent = std::make_unique<DeviceAgent>(
            Connection(settings.path, settings.model, settings.serialNumber), &monitor);
        QSignalSpy ready(agent.get(), &DeviceAgent::ready);
        agent->start();
        QVERIFY(ready.wait(5000));
        agent->sendFile(kind, path);
        QTRY_COMPARE_WITH_TIMEOUT(bus.device(0).packetsReceived(), 1171, 5000);
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        agent.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    } else {
        DeviceLink* link = open(bus, settings);
        QVERIFY(link);
        std::thread writer;
        if (fault == FromPipe) {
            writer = std::thread([local, contents] {
                const int fd = ::open(local.constData(), O_WRONLY);
                ::write(fd, contents.constData(), size_t(contents.size()));
                ::close(fd);
            });
        }
        FaultAtFirstPacket action { fault, path };
        ProgressHandler handler { faultAtFirstPacket, &action };
        LinkResult (*const transfers[])(DeviceLink*, const char*, const ProgressHandler*)
            = { sendMcuFirmware, sendDspFirmware, sendStyles, sendEnsembleAudio };
        const LinkResult result = transfers[kind](link, local.constData(), &handler);
        if (writer.joinable())
            writer.join();
        closeLink(link);
        QCOMPARE(result, expected);
    }

    if (installs) {
        QTRY_COMPARE_WITH_TIMEOUT(bus.device(0).installCount(), 1, 5000);
        QVERIFY(bus.device(0).holdsImage(kind, image));
    } else {
        QTest::qWait(300);
        QCOMPARE(bus.device(0).installCount(), 0);
    }
}

PELK_TEST_MAIN(tst_Transfers, PelkPlus::ConsoleTest)

#include "tst_Transfers.moc"
