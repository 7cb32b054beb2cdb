#include "SimulatedDevice.h"

#include "device/FirmwareVersion.h"
#include "support/TestMain.h"

#include <QtTest>

#include <functional>

using namespace PelkPlus;

namespace {

QByteArray packet(
    unsigned command, unsigned length, unsigned sequence, const QByteArray& payload = QByteArray())
{
    QByteArray r(65, '\0');
    r[1] = char(0xDB);
    r[2] = 0x03;
    r[3] = char(command & 0xFF);
    r[4] = char(command >> 8);
    r[5] = char(length & 0xFF);
    r[6] = char(length >> 8);
    r[7] = char(sequence & 0xFF);
    r[8] = char(sequence >> 8);
    r.replace(9, payload.size(), payload);
    return r.left(65);
}

// Feeds reports to a device, advancing a clock, and keeps its replies.
struct Feeder
{
    SimulatedDevice device;
    qint64 now = 0;
    QVector<QByteArray> replies;
    SimulatedDevice::Request last = SimulatedDevice::Request::None;

    explicit Feeder(const SimulatedDeviceSettings& settings, bool requestHeader = true)
        : device(settings)
    {
        device.connectionOpened();
        if (requestHeader)
            send(packet(0x000A, 0, 0));
    }
    void send(const QByteArray& report, qint64 advance = 0)
    {
        now += advance;
        last = device.receive(report, now, replies);
    }
    // One whole sector starting at sequence, with byte value fill in its first packet.
    unsigned sector(unsigned command, unsigned sequence, qint64 startAfter, char fill = 'a')
    {
        for (int i = 0; i < 1171; ++i)
            send(packet(
                     command, i == 1170 ? 16 : 56, sequence++, i == 0 ? QByteArray(56, fill) : QByteArray()),
                i == 0 ? startAfter : 0);
        return sequence;
    }
};

using HostScript = std::function<void(Feeder&)>;

QByteArray withByte(QByteArray report, int index, char value)
{
    report[index] = value;
    return report;
}

// A whole MCU stream of one packet, from sequence 1, with its end packet.
void mcuStream(Feeder& feeder, unsigned first = 1)
{
    feeder.send(packet(0x0004, 56, first, QByteArray(56, '\x01')));
    feeder.send(packet(0x0005, 0, first, QByteArray(1, '\0')));
}

} // namespace

Q_DECLARE_METATYPE(HostScript)

namespace {

SimulatedDeviceSettings plusWithDsp(const char* dsp)
{
    SimulatedDeviceSettings settings;
    settings.dspWord = parseFirmwareVersion(QString::fromLatin1(dsp)).toWord();
    return settings;
}

} // namespace

class tst_SimulatedDevice : public QObject
{
    Q_OBJECT

private slots:
    void headerAndReady();
    void acceptsWholeStream();
    void rejectsFaultyStreams_data();
    void rejectsFaultyStreams();
    void sectorRules();
    void catchesFaultyHost_data();
    void catchesFaultyHost();
};

void tst_SimulatedDevice::headerAndReady()
{
    SimulatedDeviceSettings settings;
    settings.ready = SimulatedReadyBehaviour::AfterQueries;
    settings.readyAfterQueries = 1;
    Feeder feeder(settings);
    QCOMPARE(feeder.replies.size(), 1);
    QCOMPARE(feeder.replies.at(0).left(4), QByteArray::fromHex("db030900"));
    const QByteArray query = packet(0x0012, 3, 0, QByteArray("\x0b\x00\x00", 3));
    feeder.send(query);
    feeder.send(query);
    QCOMPARE(feeder.replies.size(), 3);
    QCOMPARE(int(feeder.replies.at(1).at(10)), 0);
    QCOMPARE(int(feeder.replies.at(2).at(10)), 1);
    // A ready query with a counted number is a fault of the host.
    feeder.send(packet(0x0012, 3, 5, QByteArray("\x0b\x00\x00", 3)));
    QCOMPARE(feeder.device.violations().size(), 1);
}

void tst_SimulatedDevice::acceptsWholeStream()
{
    Feeder feeder { SimulatedDeviceSettings() };
    // The version marker may stand behind zero bytes, as in any binary image.
    const QByteArray first = QByteArray(10, '\0') + SimulatedDevice::versionMarker(QStringLiteral("3.3.3"))
        + QByteArray(32, '\x01');
    quint8 checksum = 0;
    for (char c : first + QByteArray(3, '\x02'))
        checksum ^= quint8(c);
    feeder.send(packet(0x0004, 56, 1, first));
    feeder.send(packet(0x0004, 56, 2, QByteArray(3, '\x02')));
    QCOMPARE(feeder.device.installCount(), 0);
    feeder.send(packet(0x0005, 0, 2, QByteArray(1, char(checksum))));
    QVERIFY(feeder.device.violations().isEmpty());
    QCOMPARE(feeder.device.installCount(), 1);
    QCOMPARE(FirmwareVersion::fromWord(feeder.device.settings().mcuWord).toString(), QStringLiteral("3.3.3"));
    QVERIFY(feeder.last == SimulatedDevice::Request::Reboot);
}

void tst_SimulatedDevice::rejectsFaultyStreams_data()
{
    QTest::addColumn<QList<QByteArray>>("reports");
    const QByteArray data(56, '\x11');
    QTest::newRow("sequence skipped")
        << QList<QByteArray> { packet(0x0004, 56, 2, data), packet(0x0005, 0, 2) };
    QTest::newRow("end packet does not repeat the last number")
        << QList<QByteArray> { packet(0x0004, 56, 1, data), packet(0x0005, 0, 2) };
    QTest::newRow("checksum wrong") << QList<QByteArray> { packet(0x0004, 56, 1, data),
        packet(0x0005, 0, 1, QByteArray(1, '\x01')) };
    QTest::newRow("mcu length short")
        << QList<QByteArray> { packet(0x0004, 55, 1, data), packet(0x0005, 0, 1) };
    QTest::newRow("dsp packet carries 56 bytes")
        << QList<QByteArray> { packet(0x0002, 54, 1, data), packet(0x0003, 0, 1) };
    QTest::newRow("end without data") << QList<QByteArray> { packet(0x0005, 0, 0) };
    QTest::newRow("terminating packet without sectors") << QList<QByteArray> { packet(0x0015, 0, 0) };
    QTest::newRow("unknown command") << QList<QByteArray> { packet(0x0030, 0, 0) };
}

void tst_SimulatedDevice::rejectsFaultyStreams()
{
    QFETCH(QList<QByteArray>, reports);
    Feeder feeder { SimulatedDeviceSettings() };
    for (const QByteArray& report : reports)
        feeder.send(report);
    QVERIFY(!feeder.device.violations().isEmpty());
    QCOMPARE(feeder.device.installCount(), 0);
}

void tst_SimulatedDevice::sectorRules()
{
    {
        // Beta DSP: two sectors with their pause, then the terminating packet installs.
        Feeder feeder(plusWithDsp("1.0.0"));
        const unsigned next = feeder.sector(0x0014, 1, 0);
        feeder.sector(0x0014, next, 2100, 'b');
        QCOMPARE(feeder.device.installCount(), 0);
        feeder.send(packet(0x0015, 0, 0), 2100);
        QVERIFY(feeder.device.violations().isEmpty());
        QCOMPARE(feeder.device.installCount(), 1);
        QCOMPARE(feeder.device.installedImage(SimulatedDevice::Styles).size(), 2 * 65536);
        QCOMPARE(feeder.device.installedImage(SimulatedDevice::Styles).at(65536), 'b');
    }
    {
        // A second sector that begins before the first could be written.
        Feeder feeder(plusWithDsp("1.0.0"));
        const unsigned next = feeder.sector(0x0007, 1, 0);
        feeder.sector(0x0007, next, 500);
        feeder.send(packet(0x0015, 0, 0));
        QVERIFY(!feeder.device.violations().isEmpty());
        QCOMPARE(feeder.device.installCount(), 0);
    }
    {
        // Alpha DSP: no terminating packet is due; quiet completes the image, a terminating packet is a
        // fault.
        Feeder quiet(plusWithDsp("0.9.9"));
        quiet.sector(0x0014, 1, 0);
        QVERIFY(quiet.device.idle(quiet.now + 3000) == SimulatedDevice::Request::Reboot);
        QCOMPARE(quiet.device.installCount(), 1);
        Feeder terminated(plusWithDsp("0.9.9"));
        terminated.sector(0x0014, 1, 0);
        terminated.send(packet(0x0015, 0, 0));
        QVERIFY(!terminated.device.violations().isEmpty());
        QCOMPARE(terminated.device.installCount(), 0);
    }
    {
        // Beta DSP but the terminating packet never comes: the host stopped; nothing is installed.
        Feeder feeder(plusWithDsp("2.0.0"));
        feeder.sector(0x0014, 1, 0);
        feeder.device.idle(feeder.now + 3000);
        QVERIFY(feeder.device.violations().isEmpty());
        QCOMPARE(feeder.device.installCount(), 0);
    }
    {
        // A Pelk has no Styles memory, and its Ensemble Audio is never terminated.
        SimulatedDeviceSettings base;
        base.model = Base;
        Feeder styles(base);
        styles.sector(0x0014, 1, 0);
        QVERIFY(!styles.device.violations().isEmpty());
        Feeder ensemble(base);
        ensemble.sector(0x0007, 1, 0);
        ensemble.device.idle(ensemble.now + 3000);
        QVERIFY(ensemble.device.violations().isEmpty());
        QCOMPARE(ensemble.device.installCount(), 1);
    }
    {
        // A device that stores the version first: cut inside its first sector, it installed
        // nothing and still reports the new version.
        SimulatedDeviceSettings early = plusWithDsp("1.0.0");
        early.versionBeforeLastSector = true;
        Feeder feeder(early);
        feeder.send(packet(0x0014, 56, 1, SimulatedDevice::versionMarker(QStringLiteral("0x1A2B"))));
        for (unsigned i = 2; i < 100; ++i)
            feeder.send(packet(0x0014, 56, i));
        feeder.device.idle(feeder.now + 3000);
        QCOMPARE(feeder.device.installCount(), 0);
        QCOMPARE(int(feeder.device.settings().stylesVersion), 0x1A2B);
    }
    {
        // A sector cut short: the host stopped inside it; nothing is installed.
        Feeder feeder(plusWithDsp("1.0.0"));
        for (unsigned i = 1; i < 100; ++i)
            feeder.send(packet(0x0007, 56, i));
        feeder.device.idle(feeder.now + 3000);
        QVERIFY(feeder.device.violations().isEmpty());
        QCOMPARE(feeder.device.installCount(), 0);
    }
}

void tst_SimulatedDevice::catchesFaultyHost_data()
{
    QTest::addColumn<bool>("openedFresh"); // the feeder's header request is left to the row
    QTest::addColumn<HostScript>("host");
    QTest::addColumn<int>("violations");
    QTest::addColumn<int>("installs");
    const QByteArray query = packet(0x0012, 3, 0, QByteArray("\x0b\x00\x00", 3));
    const auto sectorThen = [](qint64 after, const QByteArray& next) {
        return HostScript([after, next](Feeder& f) {
            f.sector(0x0014, 1, 0);
            f.send(next, after);
        });
    };
    QTest::newRow("terminating packet 1 ms after the last sector")
        << false << sectorThen(1, packet(0x0015, 0, 0)) << 1 << 0;
    QTest::newRow("terminating packet 2050 ms after the last sector")
        << false << sectorThen(2050, packet(0x0015, 0, 0)) << 1 << 0;
    QTest::newRow("terminating packet 2100 ms after the last sector")
        << false << sectorThen(2100, packet(0x0015, 0, 0)) << 0 << 1;
    QTest::newRow("next sector 2000 ms after the one before")
        << false << HostScript([](Feeder& f) { f.sector(0x0014, f.sector(0x0014, 1, 0), 2000); }) << 1 << 0;
    QTest::newRow("report ID 0x07") << false << HostScript([](Feeder& f) {
        f.send(withByte(packet(0x0004, 56, 1, QByteArray(56, '\x01')), 0, 7));
    }) << 1 << 0;
    QTest::newRow("header request with a payload")
        << true << HostScript([](Feeder& f) { f.send(withByte(packet(0x000A, 0, 0), 20, 1)); }) << 1 << 0;
    QTest::newRow("ready query with a fourth byte")
        << false << HostScript([query](Feeder& f) { f.send(withByte(query, 12, 1)); }) << 1 << 0;
    QTest::newRow("end packet with a byte after the checksum") << false << HostScript([](Feeder& f) {
        f.send(packet(0x0004, 56, 1, QByteArray(56, '\x01')));
        f.send(withByte(packet(0x0005, 0, 1, QByteArray(1, '\0')), 10, 1));
    }) << 1 << 0;
    QTest::newRow("terminating packet with a payload")
        << false << sectorThen(2100, withByte(packet(0x0015, 0, 0), 9, 1)) << 1 << 0;
    QTest::newRow("bytes after the 16 of a sector's last packet") << false << HostScript([](Feeder& f) {
        for (unsigned i = 1; i <= 1171; ++i)
            f.send(i == 1171 ? withByte(packet(0x0014, 16, i), 9 + 16, 1) : packet(0x0014, 56, i));
    }) << 1 << 0;
    QTest::newRow("first counted packet after open is not 0")
        << true << HostScript([](Feeder& f) { f.send(packet(0x000A, 0, 3)); }) << 1 << 0;
    QTest::newRow("a stream after an install, before the reboot") << false << HostScript([](Feeder& f) {
        mcuStream(f);
        mcuStream(f, 2);
    }) << 1 << 1;
    QTest::newRow("stopped inside a sector") << false << HostScript([](Feeder& f) {
        for (unsigned i = 1; i <= 500; ++i)
            f.send(packet(0x0007, 56, i));
        f.device.idle(f.now + 3000);
    }) << 0 << 0;
    QTest::newRow("stopped before the terminating packet") << false << HostScript([](Feeder& f) {
        f.sector(0x0007, 1, 0);
        f.device.idle(f.now + 3000);
    }) << 0 << 0;
    QTest::newRow("a valid stream within the quiet period after a violation")
        << false << HostScript([](Feeder& f) {
               f.send(packet(0x0002, 54, 1, QByteArray(56, '\x01'))); // 56 bytes in a DSP packet
               mcuStream(f, 2);
           })
        << 2 << 0;
}

void tst_SimulatedDevice::catchesFaultyHost()
{
    QFETCH(bool, openedFresh);
    QFETCH(HostScript, host);
    QFETCH(int, violations);
    QFETCH(int, installs);
    SimulatedDeviceSettings settings = plusWithDsp("1.0.0");
    Feeder feeder(settings, !openedFresh);
    host(feeder);
    QVERIFY2(feeder.device.violations().size() == violations,
        qPrintable(feeder.device.violations().join(QLatin1Char('\n'))));
    QCOMPARE(feeder.device.installCount(), installs);
}

PELK_TEST_MAIN(tst_SimulatedDevice, PelkPlus::ConsoleTest)
#include "tst_SimulatedDevice.moc"
