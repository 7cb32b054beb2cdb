#include "device/DeviceInfo.h"
#include "device/DeviceLink.h"
#include "device/DeviceModel.h"
#include "device/HidBackend.h"
#include "support/TestEnvironment.h"
#include "support/VirtualBus.h"
#include "support/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

#include <deque>
#include <vector>

using namespace PelkPlus;

namespace {

// A backend that records every report written and answers reads from a script, so that the
// bytes on the wire can be checked one by one.
struct ScriptedHid
{
    std::vector<QByteArray> written;
    std::deque<QByteArray> replies; // an empty entry stands for a read that times out
    bool failWrites = false;
    bool failReads = false;
    bool openFails = false;
    int lastTimeout = -1;
};
ScriptedHid* scripted = nullptr;

HidDeviceEntry* noDevices(unsigned short, unsigned short)
{
    return nullptr;
}
void freeNothing(HidDeviceEntry*) { }
HidDevice* openScripted(const char*)
{
    return scripted->openFails ? nullptr : reinterpret_cast<HidDevice*>(scripted);
}
int writeScripted(HidDevice*, const unsigned char* data, size_t length)
{
    if (scripted->failWrites)
        return -1;
    scripted->written.emplace_back(reinterpret_cast<const char*>(data), int(length));
    return int(length);
}
int readScripted(HidDevice*, unsigned char* data, size_t length, int timeout)
{
    scripted->lastTimeout = timeout;
    if (scripted->failReads)
        return -1;
    if (scripted->replies.empty())
        return 0;
    const QByteArray reply = scripted->replies.front();
    scripted->replies.pop_front();
    if (reply.isEmpty())
        return 0;
    memcpy(data, reply.constData(), qMin(length, size_t(reply.size())));
    return reply.size();
}
void closeScripted(HidDevice*) { }
const HidBackend scriptedBackend { "scripted", noDevices, freeNothing, openScripted, writeScripted,
    readScripted, closeScripted };

QByteArray report(std::initializer_list<std::pair<int, int>> bytes)
{
    QByteArray r(64, '\0');
    for (const auto& b : bytes)
        r[b.first] = char(b.second);
    return r;
}

QByteArray headerReply(std::initializer_list<std::pair<int, int>> extra = {})
{
    QByteArray r = report({ { 0, 0xDB }, { 1, 0x03 }, { 2, 0x09 } });
    for (const auto& b : extra)
        r[b.first] = char(b.second);
    return r;
}

int sequenceOf(const QByteArray& written)
{
    return quint8(written.at(7)) | quint8(written.at(8)) << 8;
}
int commandOf(const QByteArray& written)
{
    return quint8(written.at(3)) | quint8(written.at(4)) << 8;
}

} // namespace

class tst_DeviceLink : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        hid = ScriptedHid();
        scripted = &hid;
        setHidBackend(&scriptedBackend);
    }
    void cleanup() { setHidBackend(nullptr); }

    void decodeHeader_data();
    void decodeHeader();
    void firmwareVersionText_data();
    void firmwareVersionText();
    void firmwareVersionOrder();
    void hexVersionText_data();
    void hexVersionText();

    void openWritesHeaderRequest();
    void openFailures_data();
    void openFailures();
    void openWithoutErrorPointer();
    void badCountIsTraced();
    void sequenceCounter();
    void readyQuery_data();
    void readyQuery();
    void repliesAreScreened_data();
    void repliesAreScreened();

    void simulatedDevice_data();
    void simulatedDevice();
    void simulatedDeviceReadyBehaviour();

private:
    ScriptedHid hid;
};

void tst_DeviceLink::decodeHeader_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("mcuWord");
    QTest::addColumn<int>("dspWord");

    QTest::newRow("plus old mcu, packed ff")
        << int(Plus) << headerReply({ { 20, 0x64 }, { 18, 0xFF }, { 19, 0x12 } }) << 0x0064 << 0x0377;
    QTest::newRow("plus old mcu, bit 3 is release low bit")
        << int(Plus) << headerReply({ { 20, 0x64 }, { 18, 0x08 }, { 19, 0x99 } }) << 0x0064 << 0x0100;
    QTest::newRow("plus 6.5 reads both bytes")
        << int(Plus) << headerReply({ { 20, 0x65 }, { 18, 0x34 }, { 19, 0x02 } }) << 0x0065 << 0x0234;
    QTest::newRow("plus beta 0.0 reads both bytes")
        << int(Plus) << headerReply({ { 21, 0x01 }, { 18, 0xFF }, { 19, 0x00 } }) << 0x0100 << 0x00FF;
    QTest::newRow("base sets release low bits")
        << int(Base) << headerReply({ { 20, 0x12 }, { 18, 0x45 } }) << 0x0312 << 0x0345;
    QTest::newRow("base ignores old-mcu packing")
        << int(Base) << headerReply({ { 20, 0x10 }, { 18, 0x45 }, { 19, 0x00 } }) << 0x0310 << 0x0345;
}

void tst_DeviceLink::decodeHeader()
{
    QFETCH(int, model);
    QFETCH(QByteArray, reply);
    QFETCH(int, mcuWord);
    QFETCH(int, dspWord);
    const HeaderRecord header
        = PelkPlus::decodeHeader(reinterpret_cast<const unsigned char*>(reply.constData()), model);
    QCOMPARE(int(header.mcuWord), mcuWord);
    QCOMPARE(int(header.dspWord), dspWord);
    const DeviceInfo info = DeviceInfo::fromHeader(model, header);
    QCOMPARE(info.dspVersion.toWord(), unsigned(dspWord));
    QCOMPARE(info.mcuVersion.toWord(), unsigned(mcuWord));
}

void tst_DeviceLink::firmwareVersionText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("display");
    QTest::newRow("production") << "3.1.2"
                                << "3.1.2"
                                << "Production 1.2";
    QTest::newRow("alpha floor") << "0.6.4"
                                 << "0.6.4"
                                 << "Alpha 6.4";
    QTest::newRow("blanks") << " 2 . 3 . 4 "
                            << "2.3.4"
                            << "Pre-production 3.4";
    QTest::newRow("two parts") << "3.1"
                               << "0.0.0"
                               << "Alpha 0.0";
    QTest::newRow("four parts") << "3.1.2.4"
                                << "0.0.0"
                                << "Alpha 0.0";
    QTest::newRow("not a number") << "3.x.2"
                                  << "3.0.2"
                                  << "Production 0.2";
    QTest::newRow("empty") << ""
                           << "0.0.0"
                           << "Alpha 0.0";
    QTest::newRow("unknown release type") << "7.1.2"
                                          << "7.1.2"
                                          << " 1.2";
    QTest::newRow("beta") << "1.0.9"
                          << "1.0.9"
                          << "Beta 0.9";
    // Beyond what the device's version word keeps: refused rather than wrapped (3.16.0 as 3.0.0).
    QTest::newRow("major above 15") << "3.16.0"
                                    << "0.0.0"
                                    << "Alpha 0.0";
    QTest::newRow("minor above 15") << "3.1.16"
                                    << "0.0.0"
                                    << "Alpha 0.0";
    QTest::newRow("release type above 255") << "256.1.2"
                                            << "0.0.0"
                                            << "Alpha 0.0";
    QTest::newRow("negative minor") << "3.1.-1"
                                    << "0.0.0"
                                    << "Alpha 0.0";
    QTest::newRow("largest") << "255.15.15"
                             << "255.15.15"
                             << " 15.15";
}

void tst_DeviceLink::firmwareVersionText()
{
    QFETCH(QString, text);
    QFETCH(QString, plain);
    QFETCH(QString, display);
    const FirmwareVersion version = parseFirmwareVersion(text);
    QCOMPARE(version.toString(), plain);
    QCOMPARE(version.displayText(), display);
}

void tst_DeviceLink::firmwareVersionOrder()
{
    const QStringList ascending
        = { "0.6.4", "0.6.5", "0.7.0", "1.0.0", "1.0.1", "2.0.0", "3.0.0", "3.1.2", "3.15.0" };
    for (int i = 0; i + 1 < ascending.size(); ++i) {
        const FirmwareVersion lower = parseFirmwareVersion(ascending.at(i));
        const FirmwareVersion higher = parseFirmwareVersion(ascending.at(i + 1));
        QVERIFY2(lower < higher, qPrintable(ascending.at(i)));
        QVERIFY(!(higher < lower));
        QVERIFY(lower != higher);
    }
    QVERIFY(parseFirmwareVersion("3.1.2") == FirmwareVersion::fromWord(0x0312));
    QCOMPARE(DeviceInfo().mcuVersion.toString(), QStringLiteral("0.0.0"));
    QCOMPARE(DeviceInfo().dspVersion.toString(), QStringLiteral("0.0.0"));
}

void tst_DeviceLink::hexVersionText_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << "0x0";
    QTest::newRow("styles") << 6699u << "0x1A2B";
    QTest::newRow("no leading zeros") << 0x00010203u << "0x10203";
    QTest::newRow("full width") << 0xFFFFFFFFu << "0xFFFFFFFF";
}

void tst_DeviceLink::hexVersionText()
{
    QFETCH(quint32, value);
    QFETCH(QString, text);
    QCOMPARE(PelkPlus::hexVersionText(value), text);
}

void tst_DeviceLink::openWritesHeaderRequest()
{
    hid.replies.push_back(headerReply({ { 10, 0x01 }, { 11, 0x02 }, { 12, 0x03 }, { 13, 0xFF }, { 14, 0x04 },
        { 15, 0x2B }, { 16, 0x1A }, { 22, 0x34 }, { 23, 0x12 } }));
    int error = 0;
    DeviceLink* link = openLink("any", Plus, 2000, &error);
    QVERIFY(link);
    QCOMPARE(error, 0);
    QCOMPARE(hid.lastTimeout, 2000);
    QCOMPARE(hid.written.size(), size_t(1));
    const QByteArray request = hid.written.front();
    QCOMPARE(request.size(), 65);
    QCOMPARE(request.left(9), QByteArray::fromHex("00db030a0000000000"));
    QCOMPARE(request.mid(9), QByteArray(56, '\0'));
    const HeaderRecord header = linkHeader(link);
    QCOMPARE(header.ensembleVersion, 0x04030201u);
    QCOMPARE(int(header.stylesVersion), 0x1A2B);
    QCOMPARE(int(header.tag), 0x1234);
    closeLink(link);
    closeLink(nullptr);
}

void tst_DeviceLink::openFailures_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<int>("expected");
    QTest::newRow("no answer") << QByteArray() << false << int(LinkTimeout);
    QTest::newRow("read fails") << headerReply() << true << int(LinkReadFailed);
    QTest::newRow("signature") << headerReply({ { 1, 0x04 } }) << false << int(LinkBadSignature);
    QTest::newRow("command") << headerReply({ { 2, 0x13 } }) << false << int(LinkBadCommand);
    QTest::newRow("command high byte") << headerReply({ { 3, 0x01 } }) << false << int(LinkBadCommand);
    QTest::newRow("count") << headerReply({ { 5, 0x02 } }) << false << int(LinkBadCount);
}

void tst_DeviceLink::openFailures()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, readFails);
    QFETCH(int, expected);
    hid.replies.push_back(reply);
    hid.failReads = readFails;
    int error = 0;
    QVERIFY(!openLink("any", Plus, 50, &error));
    QCOMPARE(error, expected);
}

void tst_DeviceLink::openWithoutErrorPointer()
{
    hid.openFails = true;
    QVERIFY(!openLink("nowhere", Base, 2000, nullptr));
    int error = 0;
    QVERIFY(!openLink("nowhere", Base, 2000, &error));
    QCOMPARE(error, int(LinkOpenFailed));
    hid.openFails = false;
    hid.failWrites = true;
    QVERIFY(!openLink("any", Base, 2000, &error));
    QCOMPARE(error, int(LinkWriteFailed));
}

void tst_DeviceLink::badCountIsTraced()
{
    QTemporaryDir dir;
    const QString capture = dir.filePath(QStringLiteral("stdout"));
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    QVERIFY(std::freopen(QFile::encodeName(capture).constData(), "w", stdout));
    hid.replies.push_back(headerReply({ { 5, 0x02 } }));
    int error = 0;
    DeviceLink* link = openLink("any", Plus, 50, &error);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    QVERIFY(!link);
    QCOMPARE(error, int(LinkBadCount));
    QFile file(capture);
    // Read as text: standard output ends its lines with CR LF on Windows.
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(file.readAll(), QByteArray("bytes: 2\n"));
}

void tst_DeviceLink::sequenceCounter()
{
    hid.replies.push_back(headerReply());
    DeviceLink* link = openLink("any", Plus, 2000, nullptr);
    QVERIFY(link);
    QCOMPARE(sequenceOf(hid.written.back()), 0);
    QCOMPARE(link->nextSequence, 1);

    // A ready query neither uses nor advances the counter.
    hid.replies.push_back(report({ { 2, 0x13 }, { 8, 0x0B }, { 10, 1 } }));
    int ready = 0;
    QCOMPARE(queryReadyForUpdate(link, 200, &ready), int(LinkOk));
    QCOMPARE(sequenceOf(hid.written.back()), 0);
    QCOMPARE(link->nextSequence, 1);

    QCOMPARE(writePacket(link, McuDataCommand, 56, true, 0, nullptr, 0), int(LinkOk));
    QCOMPARE(sequenceOf(hid.written.back()), 1);

    // A failed write does not advance the counter.
    hid.failWrites = true;
    QCOMPARE(writePacket(link, McuDataCommand, 56, true, 0, nullptr, 0), int(LinkWriteFailed));
    QCOMPARE(link->nextSequence, 2);
    hid.failWrites = false;

    link->nextSequence = 65534;
    QCOMPARE(writePacket(link, McuDataCommand, 56, true, 0, nullptr, 0), int(LinkOk));
    QCOMPARE(writePacket(link, McuDataCommand, 56, true, 0, nullptr, 0), int(LinkOk));
    QCOMPARE(sequenceOf(hid.written.back()), 65535);
    QCOMPARE(link->nextSequence, 0);
    QCOMPARE(writePacket(link, McuDataCommand, 56, true, 0, nullptr, 0), int(LinkOk));
    QCOMPARE(sequenceOf(hid.written.back()), 0);
    QCOMPARE(link->lastSequence, 0);
    closeLink(link);
}

void tst_DeviceLink::readyQuery_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("ready");
    QTest::newRow("ready") << report({ { 0, 0xDB }, { 1, 0x03 }, { 2, 0x13 }, { 8, 0x0B }, { 10, 1 } })
                           << int(LinkOk) << 1;
    QTest::newRow("not ready") << report({ { 0, 0xDB }, { 1, 0x03 }, { 2, 0x13 }, { 8, 0x0B } })
                               << int(LinkOk) << 0;
    QTest::newRow("signature not compared")
        << report({ { 0, 0x00 }, { 1, 0x00 }, { 2, 0x13 }, { 3, 0x7F }, { 8, 0x0B }, { 10, 200 } })
        << int(LinkOk) << 200;
    QTest::newRow("wrong command") << report({ { 2, 0x09 }, { 8, 0x0B }, { 10, 1 } })
                                   << int(LinkReadyReplyUnknown) << -1;
    QTest::newRow("no echo") << report({ { 2, 0x13 }, { 8, 0x0C }, { 10, 1 } }) << int(LinkReadyReplyUnknown)
                             << -1;
    QTest::newRow("time-out") << QByteArray() << int(LinkTimeout) << -1;
}

void tst_DeviceLink::readyQuery()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, expected);
    QFETCH(int, ready);
    hid.replies.push_back(headerReply());
    DeviceLink* link = openLink("any", Plus, 2000, nullptr);
    QVERIFY(link);
    hid.replies.push_back(reply);
    int flag = -1;
    QCOMPARE(queryReadyForUpdate(link, 200, &flag), expected);
    QCOMPARE(flag, ready);
    QCOMPARE(hid.lastTimeout, 200);
    const QByteArray query = hid.written.back();
    QCOMPARE(query.left(12),
        QByteArray::fromHex("00db03120003000000"
                            "0b0000"));
    QCOMPARE(commandOf(query), 0x12);
    QCOMPARE(query.mid(12), QByteArray(53, '\0'));
    closeLink(link);
}

void tst_DeviceLink::repliesAreScreened_data()
{
    QTest::addColumn<bool>("header");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("ready");
    const QByteArray readyReply = report({ { 0, 0xDB }, { 1, 0x03 }, { 2, 0x13 }, { 8, 0x0B } });
    QTest::newRow("header after a stray report")
        << true << QList<QByteArray> { readyReply, headerReply() } << int(LinkOk) << -1;
    QTest::newRow("3-byte header") << true << QList<QByteArray> { QByteArray::fromHex("db0309") }
                                   << int(LinkShortReply) << -1;
    // The query before it was answered ready: nothing of that answer may be read into this one.
    QTest::newRow("2-byte ready answer")
        << false << QList<QByteArray> { QByteArray::fromHex("db03") } << int(LinkShortReply) << -1;
    QTest::newRow("ready answer after a stray report")
        << false << QList<QByteArray> { headerReply(), readyReply } << int(LinkOk) << 0;
}

void tst_DeviceLink::repliesAreScreened()
{
    QFETCH(bool, header);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(int, expected);
    QFETCH(int, ready);
    if (header) {
        hid.replies.assign(replies.cbegin(), replies.cend());
        int error = 0;
        DeviceLink* link = openLink("any", Plus, 50, &error);
        QCOMPARE(error, expected);
        QCOMPARE(link != nullptr, expected == LinkOk);
        closeLink(link);
        return;
    }
    hid.replies.push_back(headerReply());
    hid.replies.push_back(report({ { 0, 0xDB }, { 1, 0x03 }, { 2, 0x13 }, { 8, 0x0B }, { 10, 1 } }));
    DeviceLink* link = openLink("any", Plus, 2000, nullptr);
    QVERIFY(link);
    int flag = -1;
    QCOMPARE(queryReadyForUpdate(link, 200, &flag), int(LinkOk));
    QCOMPARE(flag, 1);
    hid.replies.insert(hid.replies.end(), replies.cbegin(), replies.cend());
    flag = -1;
    QCOMPARE(queryReadyForUpdate(link, 200, &flag), expected);
    QCOMPARE(flag, ready);
    closeLink(link);
}

void tst_DeviceLink::simulatedDevice_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("mcu");
    QTest::addColumn<QString>("dsp");
    QTest::addColumn<bool>("clearBits");
    QTest::addColumn<QString>("expectedMcu");
    QTest::addColumn<QString>("expectedDsp");
    QTest::newRow("plus") << int(Plus) << "3.1.2"
                          << "2.4.1" << false << "3.1.2"
                          << "2.4.1";
    QTest::newRow("plus old mcu packs dsp") << int(Plus) << "0.6.4"
                                            << "3.7.5" << false << "0.6.4"
                                            << "3.7.5";
    QTest::newRow("plus old mcu alpha dsp") << int(Plus) << "0.5.1"
                                            << "0.2.3" << false << "0.5.1"
                                            << "0.2.3";
    QTest::newRow("base") << int(Base) << "3.2.0"
                          << "3.1.5" << false << "3.2.0"
                          << "3.1.5";
    QTest::newRow("base reporting cleared bits") << int(Base) << "3.2.0"
                                                 << "3.1.5" << true << "3.2.0"
                                                 << "3.1.5";
}

void tst_DeviceLink::simulatedDevice()
{
    QFETCH(int, model);
    QFETCH(QString, mcu);
    QFETCH(QString, dsp);
    QFETCH(bool, clearBits);
    QFETCH(QString, expectedMcu);
    QFETCH(QString, expectedDsp);
    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.model = model;
    settings.mcuWord = parseFirmwareVersion(mcu).toWord();
    settings.dspWord = parseFirmwareVersion(dsp).toWord();
    settings.stylesVersion = 0x1A2B;
    settings.ensembleVersion = 0x00010203;
    settings.tag = 0x0BEE;
    settings.clearBaseReleaseBits = clearBits;
    bus.addDevice(settings);

    int error = 0;
    DeviceLink* link = openLink("sim/pelk-1", model, 2000, &error);
    QVERIFY2(link, qPrintable(QString::number(error)));
    const DeviceInfo info = DeviceInfo::fromHeader(model, linkHeader(link));
    QCOMPARE(info.model, model);
    QCOMPARE(info.mcuVersion.toString(), expectedMcu);
    QCOMPARE(info.dspVersion.toString(), expectedDsp);
    QCOMPARE(int(info.stylesVersion), 0x1A2B);
    QCOMPARE(info.ensembleVersion, 0x00010203u);
    QCOMPARE(info.tag, 0x0BEE);
    closeLink(link);
    QVERIFY(bus.device(0).violations().isEmpty());
}

void tst_DeviceLink::simulatedDeviceReadyBehaviour()
{
    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.ready = SimulatedReadyBehaviour::AfterQueries;
    settings.readyAfterQueries = 2;
    bus.addDevice(settings);
    DeviceLink* link = openLink("sim/pelk-1", Plus, 2000, nullptr);
    QVERIFY(link);
    QList<int> flags;
    for (int i = 0; i < 3; ++i) {
        int ready = -1;
        QCOMPARE(queryReadyForUpdate(link, 500, &ready), int(LinkOk));
        flags.append(ready);
    }
    QCOMPARE(flags, QList<int>({ 0, 0, 1 }));
    bus.run([](DeviceBus& b) { b.device(0).settings().ready = SimulatedReadyBehaviour::NoAnswer; });
    int ready = -1;
    QCOMPARE(queryReadyForUpdate(link, 100, &ready), int(LinkTimeout));
    QCOMPARE(ready, -1);

    // Pulling the cable closes the connection: the link's reads and writes fail from then on.
    bus.run([](DeviceBus& b) { b.unplug(0); });
    QTRY_COMPARE(queryReadyForUpdate(link, 100, &ready), int(LinkWriteFailed));
    closeLink(link);
    QVERIFY(!openLink("sim/pelk-1", Plus, 2000, nullptr));
}

PELK_TEST_MAIN(tst_DeviceLink, PelkPlus::ConsoleTest)

#include "tst_DeviceLink.moc"
