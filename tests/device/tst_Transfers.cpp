#include "device/DeviceLink.h"
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "support/TestEnvironment.h"
#include "support/VirtualBus.h"

#include <QTemporaryDir>
#include <QtTest>

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

} // namespace

class tst_Transfers : public QObject
{
    Q_OBJECT

private slots:
    void mcuStream_data();
    void mcuStream();
    void mcuStopAfterFirstPacket();
    void dspStream();
    void dspMalformed_data();
    void dspMalformed();
    void missingFile();
    void sectors_data();
    void sectors();
    void sectorLimits_data();
    void sectorLimits();
    void sectorStop();

private:
    QString writeFile(const QString& name, const QByteArray& contents)
    {
        const QString path = m_dir.filePath(name);
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

    QTemporaryDir m_dir;
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

void tst_Transfers::mcuStopAfterFirstPacket()
{
    const QString path = writeFile(QStringLiteral("stop.bin"), patternBytes(500));
    VirtualBus bus;
    DeviceLink* link = open(bus, SimulatedDeviceSettings());
    QVERIFY(link);
    ProgressLog progress;
    progress.stopAtCall = 1;
    ProgressHandler handler { recordProgress, &progress };
    QCOMPARE(sendMcuFirmware(link, path.toLocal8Bit().constData(), &handler), int(LinkStopped));
    QCOMPARE(progress.fractions.size(), 1);
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
    const QByteArray missing = m_dir.filePath(QStringLiteral("missing")).toLocal8Bit();
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
    const QString path = m_dir.filePath(QStringLiteral("big.bin"));
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

void tst_Transfers::sectorStop()
{
    const QString path = writeFile(QStringLiteral("stop.bin"), patternBytes(70000));
    VirtualBus bus;
    DeviceLink* link = open(bus, SimulatedDeviceSettings());
    QVERIFY(link);
    ProgressLog progress;
    progress.stopAtCall = 1;
    ProgressHandler handler { recordProgress, &progress };
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(sendEnsembleAudio(link, path.toLocal8Bit().constData(), &handler), int(LinkStopped));
    QCOMPARE(progress.fractions.size(), 1);
    QCOMPARE(link->lastSequence, 1);
    closeLink(link);
    QTRY_COMPARE(bus.device(0).packetsReceived(), 1);
    QTest::qWait(100);
    QCOMPARE(bus.device(0).installCount(), 0);
}

int main(int argc, char** argv)
{
    TestEnvironment environment;
    QCoreApplication application(argc, argv);
    tst_Transfers test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Transfers.moc"
