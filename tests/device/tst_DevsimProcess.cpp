#include "device/DeviceInfo.h"
#include "device/DeviceLink.h"
#include "device/DeviceModel.h"
#include "device/HidBackend.h"
#include "device/RecordingBackend.h"
#include "device/VirtualBusBackend.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace PelkPlus;

// pelk-devsim as another process on a real socket, reached through the same backend switch that
// the updater uses.
class tst_DevsimProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void environmentChoosesBackend();
    void serveAndOpen_data();
    void serveAndOpen();
    void twoDevicesAndCommands();
    void badArguments_data();
    void badArguments();
    void replayFindsFirstChangedReport_data();
    void replayFindsFirstChangedReport();

private:
    bool start(const QStringList& arguments);
    bool waitForLine(const QString& text, int timeout = 5000);

    QTemporaryDir dir;
    QString socket;
    QProcess devsimProcess;
    QByteArray output;
};

void tst_DevsimProcess::initTestCase()
{
    QVERIFY2(QFile::exists(qEnvironmentVariable("PELK_DEVSIM")), "PELK_DEVSIM names the simulator");
    socket = dir.filePath(QStringLiteral("bus"));
}

void tst_DevsimProcess::cleanup()
{
    if (devsimProcess.state() != QProcess::NotRunning) {
        devsimProcess.write("quit\n");
        if (!devsimProcess.waitForFinished(3000))
            devsimProcess.kill();
        devsimProcess.waitForFinished();
    }
    output.clear();
    setHidBackend(nullptr);
    qunsetenv("PELK_HIDSIM_SOCKET");
}

bool tst_DevsimProcess::start(const QStringList& arguments)
{
    devsimProcess.setProcessChannelMode(QProcess::SeparateChannels);
    devsimProcess.start(qEnvironmentVariable("PELK_DEVSIM"), arguments);
    return devsimProcess.waitForStarted() && waitForLine(QStringLiteral("listening on"));
}

bool tst_DevsimProcess::waitForLine(const QString& text, int timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout) {
        output += devsimProcess.readAllStandardOutput();
        if (QString::fromLocal8Bit(output).contains(text))
            return true;
        devsimProcess.waitForReadyRead(100);
    }
    qWarning("simulator said:\n%s\n%s", output.constData(), devsimProcess.readAllStandardError().constData());
    return false;
}

void tst_DevsimProcess::environmentChoosesBackend()
{
    setHidBackend(nullptr);
    qputenv("PELK_HIDSIM_SOCKET", socket.toLocal8Bit());
    QCOMPARE(QString::fromLatin1(hidBackend()->name), QStringLiteral("virtual bus"));
    // Nobody serves the socket yet: an empty bus, and nothing opens.
    QVERIFY(!hidBackend()->enumerate(0, 0));
    QVERIFY(!hidBackend()->openPath("sim/pelk-1"));
}

void tst_DevsimProcess::serveAndOpen_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("mcu");
    QTest::addColumn<QString>("dsp");
    QTest::newRow("pelk+") << QStringList { "--model", "plus", "--mcu", "3.1.2", "--dsp", "1.4.2" }
                           << int(Plus) << "Production 1.2"
                           << "Beta 4.2";
    QTest::newRow("pelk") << QStringList { "--model", "base", "--mcu", "3.0.5", "--dsp", "3.2.1" }
                          << int(Base) << "Production 0.5"
                          << "Production 2.1";
    QTest::newRow("pelk+ with old mcu")
        << QStringList { "--model", "plus", "--mcu", "0.6.3", "--dsp", "2.5.6" } << int(Plus) << "Alpha 6.3"
        << "Pre-production 5.6";
    // The bus as a host without Unix sockets reaches it; port 0 lets the simulator choose.
    QTest::newRow("pelk+ over tcp on loopback") << QStringList { "--model", "plus", "--mcu", "3.1.2", "--dsp",
        "1.4.2", "--socket", "tcp:127.0.0.1:0" } << int(Plus)
                                                << "Production 1.2"
                                                << "Beta 4.2";
}

void tst_DevsimProcess::serveAndOpen()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, model);
    QFETCH(QString, mcu);
    QFETCH(QString, dsp);
    qputenv("PELK_HIDSIM_SOCKET", socket.toLocal8Bit());
    QVERIFY(start(arguments
        + QStringList {
            "--styles", "0x1A2B", "--ensemble", "0x10203", "--serial", "SN-ü1", "--path", "sim/dev-a" }));
    const QRegularExpressionMatch tcp
        = QRegularExpression(QStringLiteral("listening on (tcp:127\\.0\\.0\\.1:\\d+)"))
              .match(QString::fromLocal8Bit(output));
    if (tcp.hasMatch())
        qputenv("PELK_HIDSIM_SOCKET", tcp.captured(1).toLatin1());
    setHidBackend(nullptr); // back to the environment's choice, as in the updater

    HidDeviceEntry* entries = hidBackend()->enumerate(0x1210, 0);
    QVERIFY(entries);
    QCOMPARE(QString::fromLatin1(entries->path), QStringLiteral("sim/dev-a"));
    QCOMPARE(entries->vendorId, quint16(0x1210));
    QCOMPARE(entries->productId, model == Plus ? quint16(0x0043) : quint16(0x0042));
    QCOMPARE(QString::fromWCharArray(entries->serialNumber), QStringLiteral("SN-ü1"));
    QVERIFY(!entries->next);
    hidBackend()->freeEnumeration(entries);
    QVERIFY(!hidBackend()->enumerate(0x1234, 0));

    int error = 0;
    DeviceLink* link = openLink("sim/dev-a", model, 2000, &error);
    QVERIFY2(link, qPrintable(QString::number(error)));
    const DeviceInfo info = DeviceInfo::fromHeader(model, linkHeader(link));
    QCOMPARE(info.mcuVersion.displayText(), mcu);
    QCOMPARE(info.dspVersion.displayText(), dsp);
    QCOMPARE(hexVersionText(info.stylesVersion), QStringLiteral("0x1A2B"));
    QCOMPARE(hexVersionText(info.ensembleVersion), QStringLiteral("0x10203"));
    int ready = 0;
    QCOMPARE(queryReadyForUpdate(link, 1000, &ready), int(LinkOk));
    QCOMPARE(ready, 1);

    // Unplugging closes the connection: reads and writes fail from then on.
    devsimProcess.write("unplug\n");
    QVERIFY(waitForLine(QStringLiteral("unplugged")));
    unsigned char buffer[64];
    QTRY_COMPARE(hidBackend()->readTimeout(link->handle, buffer, 64, 100), -1);
    QCOMPARE(hidBackend()->write(link->handle, link->outReport, 65), -1);
    QCOMPARE(queryReadyForUpdate(link, 100, &ready), int(LinkWriteFailed));
    closeLink(link);
    QVERIFY(!hidBackend()->enumerate(0x1210, 0));
    QVERIFY(!openLink("sim/dev-a", model, 2000, &error));
    QCOMPARE(error, int(LinkOpenFailed));

    devsimProcess.write("plug\n");
    QVERIFY(waitForLine(QStringLiteral("plugged in")));
    link = openLink("sim/dev-a", model, 2000, &error);
    QVERIFY(link);
    closeLink(link);
}

void tst_DevsimProcess::twoDevicesAndCommands()
{
    QVERIFY(start({ "--socket", socket, "--interfaces", "2", "--add-device", "--model", "base", "--header",
        "no-answer" }));
    setHidBackend(virtualBusBackend(socket.toLocal8Bit().constData()));
    QStringList paths;
    HidDeviceEntry* entries = hidBackend()->enumerate(0x1210, 0);
    for (HidDeviceEntry* e = entries; e; e = e->next)
        paths.append(QString::fromLatin1(e->path));
    hidBackend()->freeEnumeration(entries);
    QCOMPARE(paths, QStringList({ "sim/pelk-1", "sim/pelk-1:1", "sim/pelk-2" }));

    int error = 0;
    QVERIFY(!openLink("sim/pelk-2", Base, 300, &error));
    QCOMPARE(error, int(LinkTimeout));

    devsimProcess.write("set 1 header bad-count\n");
    QVERIFY(waitForLine(QStringLiteral("1 Pelk sim/pelk-2")));
    QVERIFY(!openLink("sim/pelk-2", Base, 300, &error));
    QCOMPARE(error, int(LinkBadCount));

    devsimProcess.write("set 0 mcu 3.9.9\n");
    QVERIFY(waitForLine(QStringLiteral("MCU 3.9.9")));
    DeviceLink* link = openLink("sim/pelk-1", Plus, 2000, &error);
    QVERIFY(link);
    QCOMPARE(DeviceInfo::fromHeader(Plus, linkHeader(link)).mcuVersion.toString(), QStringLiteral("3.9.9"));
    closeLink(link);

    devsimProcess.write("power-cycle 0\n");
    QVERIFY(waitForLine(QStringLiteral("power cycle")));
    QVERIFY(waitForLine(QStringLiteral("sim/pelk-1: plugged in"), 6000));
    devsimProcess.write("bogus\n");
    QVERIFY(waitForLine(QStringLiteral("unknown command: bogus")));
}

void tst_DevsimProcess::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("said");
    const QString notRecording = dir.filePath(QStringLiteral("not-a-recording"));
    QFile file(notRecording);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"call\":\"start\"}\nnot json at all\n");
    file.close();
    QTest::newRow("unknown model") << QStringList { "--model", "tuba" } << "model is plus or base";
    QTest::newRow("refusal not a number") << QStringList { "--refuse-open-ms", "soon" } << "milliseconds";
    QTest::newRow("too many duplicates") << QStringList { "--duplicate-entries", "99" } << "1 to 8";
    QTest::newRow("no such recording")
        << QStringList { "--replay", dir.filePath(QStringLiteral("missing.jsonl")) } << "cannot read";
    QTest::newRow("not a recording") << QStringList { "--replay", notRecording }
                                     << "not-a-recording line 2 is not a recorded call";
}

void tst_DevsimProcess::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    QProcess devsim;
    devsim.start(qEnvironmentVariable("PELK_DEVSIM"), QStringList { "--socket", socket } + arguments);
    QVERIFY(devsim.waitForFinished(5000));
    QCOMPARE(devsim.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(devsim.readAllStandardError());
    QVERIFY2(error.contains(said), qPrintable(error));
}

namespace {

// What the updater does to a Pelk+ for an MCU update, through whatever backend is chosen: one
// enumeration, the open with its header exchange, a ready query, the stream, the close.
LinkResult updateMcu(const QString& image)
{
    const HidBackend* backend = hidBackend();
    backend->freeEnumeration(backend->enumerate(pelkVendorId, 0));
    int error = 0;
    DeviceLink* link = openLink("sim/pelk-1", Plus, 2000, &error);
    if (!link)
        return LinkResult(error);
    int ready = 0;
    queryReadyForUpdate(link, 200, &ready);
    const LinkResult result = sendMcuFirmware(link, QFile::encodeName(image).constData(), nullptr);
    closeLink(link);
    return result;
}

QList<QJsonObject> recordedCalls(const QString& path, const QString& call)
{
    QFile file(path);
    QList<QJsonObject> calls;
    if (!file.open(QIODevice::ReadOnly))
        return calls;
    while (!file.atEnd()) {
        const QJsonObject object = QJsonDocument::fromJson(file.readLine()).object();
        if (object.value(QStringLiteral("call")).toString() == call)
            calls.append(object);
    }
    return calls;
}

} // namespace

enum class HostChange { None, ImageByte, RecordedChecksum };
Q_DECLARE_METATYPE(HostChange)

void tst_DevsimProcess::replayFindsFirstChangedReport_data()
{
    QTest::addColumn<HostChange>("change");
    QTest::newRow("the same update") << HostChange::None;
    // A changed image byte is caught at the data packet that carries it.
    QTest::newRow("one image byte changed") << HostChange::ImageByte;
    // The host computing another checksum than the recorded one: the recording's end packet is
    // altered, and the host's is caught as different.
    QTest::newRow("another checksum") << HostChange::RecordedChecksum;
}

void tst_DevsimProcess::replayFindsFirstChangedReport()
{
    QFETCH(HostChange, change);
    const int changedByte = 56 * 40 + 17;
    QByteArray image(6000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    const QString imagePath = dir.filePath(QStringLiteral("mcu.bin"));
    const QString recordingPath = dir.filePath(QStringLiteral("session-%1.jsonl").arg(int(change)));
    auto writeImage = [&](const QByteArray& bytes) {
        QFile file(imagePath);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };

    // Recorded against the simulator.
    QVERIFY(writeImage(image));
    QVERIFY(start({ "--socket", socket, "--model", "plus" }));
    setHidBackend(recordingBackend(
        virtualBusBackend(socket.toLocal8Bit().constData()), recordingPath.toLocal8Bit().constData()));
    QCOMPARE(QString::fromLocal8Bit(hidRecordingPath()), recordingPath);
    QCOMPARE(updateMcu(imagePath), int(LinkOk));
    QVERIFY(waitForLine(QStringLiteral("installed MCU firmware")));
    cleanup();
    const QList<QJsonObject> writes = recordedCalls(recordingPath, QStringLiteral("write"));
    // The header request, the ready query, 108 data packets and the end packet.
    QCOMPARE(writes.size(), 2 + 108 + 1);
    QCOMPARE(recordedCalls(recordingPath, QStringLiteral("enumerate")).size(), 1);
    QCOMPARE(recordedCalls(recordingPath, QStringLiteral("read")).size(), 2);

    int expectedReport = 0;
    if (change == HostChange::ImageByte) {
        image[changedByte] = char(image.at(changedByte) ^ 0x5A);
        QVERIFY(writeImage(image));
        expectedReport = 3 + changedByte / 56;
    } else if (change == HostChange::RecordedChecksum) {
        QFile file(recordingPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        const QByteArray endHex = writes.last().value(QStringLiteral("data")).toString().toLatin1();
        QByteArray altered = endHex;
        // Byte 9 of the report, the first of the payload, carries the checksum.
        altered.replace(18, 2, endHex.mid(18, 2) == "00" ? "ff" : "00");
        text.replace(endHex, altered);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        expectedReport = writes.size();
    }

    // Replayed against the updater's device layer, with no simulated device behind the bus.
    const QString replaySocket = dir.filePath(QStringLiteral("replay"));
    QVERIFY(start({ "--socket", replaySocket, "--replay", recordingPath }));
    setHidBackend(virtualBusBackend(replaySocket.toLocal8Bit().constData()));
    const LinkResult result = updateMcu(imagePath);
    if (change == HostChange::None) {
        QCOMPARE(result, int(LinkOk));
        QVERIFY(waitForLine(
            QStringLiteral("replay: the recording played to its end, 111 of 111 reports as recorded")));
        devsimProcess.write("quit\n");
        QVERIFY(devsimProcess.waitForFinished(5000));
        QCOMPARE(devsimProcess.exitCode(), 0);
        return;
    }
    QVERIFY(waitForLine(
        QStringLiteral("replay: report %1 differs from the recording at byte ").arg(expectedReport)));
    // It may have gone already: the difference ends it at once.
    QTRY_VERIFY_WITH_TIMEOUT(devsimProcess.state() == QProcess::NotRunning, 5000);
    QCOMPARE(devsimProcess.exitCode(), 3);
    QVERIFY(!QString::fromLocal8Bit(output).contains(QStringLiteral("played to its end")));
}

PELK_TEST_MAIN(tst_DevsimProcess, PelkPlus::ConsoleTest)

#include "tst_DevsimProcess.moc"
