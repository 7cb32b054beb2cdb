#include "device/DeviceAgent.h"
#include "device/DeviceInfo.h"
#include "device/DeviceMonitor.h"
#include "device/FirmwareVersion.h"
#include "support/AgentConnection.h"
#include "support/TestEnvironment.h"
#include "support/VirtualBus.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace PelkPlus;

// Each kind of component travels the whole device layer: the monitor finds the simulated device,
// an agent opens it, checks that it is ready, streams the file, and the device installs the image,
// reboots and comes back with the new version.
class tst_DeviceAgentBus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerDeviceMetaTypes(); }
    void installThroughAgent_data();
    void installThroughAgent();
    void deviceTakingNothingFailsTheTransfer();
    void secondAgentFindsTheDeviceBusy();

private:
    QTemporaryDir dir;
};

namespace {

QByteArray imageBytes(int size, const QString& version)
{
    QByteArray bytes(size, '\0');
    quint32 state = 99;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes.replace(0, 20, SimulatedDevice::versionMarker(version).leftJustified(20, '-'));
}

} // namespace

// One updater per device: while one agent has the device open a second is refused as busy, and
// once the first has closed it the device is free again (flock on Linux, a named mutex on Windows).
void tst_DeviceAgentBus::secondAgentFindsTheDeviceBusy()
{
    VirtualBus bus;
    bus.addDevice(SimulatedDeviceSettings());
    DeviceMonitor monitor;
    monitor.start();
    DeviceInfo info;
    std::unique_ptr<DeviceAgent> first = connectAgent(monitor, &info);
    QVERIFY(first);
    const Connection connection = first->connection();
    {
        DeviceAgent second(connection, &monitor);
        QSignalSpy failure(&second, &DeviceAgent::failure);
        second.start();
        QVERIFY(failure.wait(5000));
        QCOMPARE(second.lastResult(), LinkDeviceBusy);
    }
    // The first agent's thread closes the device after the agent has gone: until then a new agent
    // still finds it busy, and tries again.
    first.reset();
    bool opened = false;
    QElapsedTimer waited;
    waited.start();
    while (!opened && waited.elapsed() < 10000) {
        DeviceAgent third(connection, &monitor);
        QSignalSpy ready(&third, &DeviceAgent::ready);
        QSignalSpy failure(&third, &DeviceAgent::failure);
        third.start();
        QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() || !failure.isEmpty(), 5000);
        opened = !ready.isEmpty();
        if (!opened)
            QCOMPARE(third.lastResult(), LinkDeviceBusy);
    }
    QVERIFY(opened);
}

// The device hangs in the middle of a stream without leaving the bus: a write waits for it as
// hidraw's does, fails after about 5 s, and the transfer reports failure; the agent is not held.
void tst_DeviceAgentBus::deviceTakingNothingFailsTheTransfer()
{
    const QString path = dir.filePath(QStringLiteral("stalled-mcu"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(imageBytes(200000, QStringLiteral("3.2.0")));
    file.close();

    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.stopTakingAfterPacket = 40;
    bus.addDevice(settings);
    DeviceMonitor monitor;
    monitor.start();
    DeviceInfo info;
    std::unique_ptr<DeviceAgent> agent = connectAgent(monitor, &info);
    QVERIFY(agent);

    QSignalSpy failure(agent.get(), &DeviceAgent::failure);
    QSignalSpy done(agent.get(), &DeviceAgent::done);
    QElapsedTimer clock;
    clock.start();
    agent->sendFile(0, path);
    QVERIFY(failure.wait(15000));
    QVERIFY2(clock.elapsed() >= 4500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(done.isEmpty());
    QCOMPARE(bus.device(0).packetsReceived(), 40);
    clock.restart();
    agent.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

void tst_DeviceAgentBus::installThroughAgent_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("paced");
    QTest::newRow("mcu firmware") << 0 << 20000 << "3.2.0" << false;
    QTest::newRow("mcu firmware, paced like full-speed usb") << 0 << 20000 << "3.2.0" << true;
    QTest::newRow("dsp firmware") << 1 << 3000 << "1.5.1" << false;
    QTest::newRow("styles") << 2 << 70000 << "0x0207" << false;
    QTest::newRow("ensemble audio") << 3 << 40000 << "0x00020001" << false;
}

void tst_DeviceAgentBus::installThroughAgent()
{
    QFETCH(int, fileType);
    QFETCH(int, size);
    QFETCH(QString, version);
    QFETCH(bool, paced);
    const QByteArray image = imageBytes(size, version);
    QByteArray contents = image;
    if (fileType == 1) {
        contents.clear();
        for (char c : image)
            contents += "0x" + QByteArray::number(quint8(c), 16).rightJustified(2, '0') + '\n';
    }
    const QString path = dir.filePath(QStringLiteral("component-%1").arg(fileType));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), qint64(contents.size()));
    file.close();

    VirtualBus bus;
    SimulatedDeviceSettings settings;
    settings.mcuWord = 0x0301;
    settings.dspWord = 0x0102; // Beta: the sector transfers end with a terminating packet
    settings.stylesVersion = 0x0100;
    settings.ensembleVersion = 0x00010000;
    settings.rebootMs = 2500; // longer than a poll of the monitor, so the drop is seen
    settings.paced = paced;
    bus.addDevice(settings);

    DeviceMonitor monitor;
    monitor.start();
    DeviceInfo before;
    std::unique_ptr<DeviceAgent> agent = connectAgent(monitor, &before);
    QVERIFY(agent);
    QCOMPARE(before.mcuVersion.toString(), QStringLiteral("3.0.1"));

    QSignalSpy readyForUpdate(agent.get(), &DeviceAgent::readyForUpdate);
    agent->checkReadyForUpdate();
    QVERIFY(readyForUpdate.wait(5000));

    QSignalSpy progress(agent.get(), &DeviceAgent::progress);
    QSignalSpy done(agent.get(), &DeviceAgent::done);
    QSignalSpy failure(agent.get(), &DeviceAgent::failure);
    QSignalSpy disconnected(agent.get(), &DeviceAgent::disconnected);
    QElapsedTimer clock;
    clock.start();
    agent->sendFile(fileType, path);
    QVERIFY(done.wait(20000));
    if (paced) // one report per millisecond: the host cannot run far ahead of the device
        QVERIFY2(clock.elapsed() >= size / 56 / 2, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(failure.isEmpty());
    QVERIFY(progress.size() > 1);
    QCOMPARE(progress.last().at(0).toFloat(), 1.0f);

    // The device installs, drops off the bus and the agent hears of it through the monitor.
    QVERIFY(disconnected.wait(10000));
    const SimulatedDevice device = bus.device(0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join(QLatin1Char('\n'))));
    QCOMPARE(device.installCount(), 1);
    const QByteArray installed = device.installedImage(fileType);
    QCOMPARE(installed.left(image.size()), image);
    QCOMPARE(installed.mid(image.size()), QByteArray(installed.size() - image.size(), '\0'));
    if (fileType <= 1) {
        quint8 checksum = 0;
        for (char c : image)
            checksum ^= quint8(c);
        QCOMPARE(device.receivedChecksum(fileType), checksum);
    }
    agent.reset();

    DeviceInfo after;
    agent = connectAgent(monitor, &after);
    QVERIFY(agent);
    switch (fileType) {
    case 0:
        QCOMPARE(after.mcuVersion.toString(), version);
        break;
    case 1:
        QCOMPARE(after.dspVersion.toString(), version);
        break;
    case 2:
        QCOMPARE(after.stylesVersion, quint16(version.toUInt(nullptr, 16)));
        break;
    default:
        QCOMPARE(after.ensembleVersion, version.toUInt(nullptr, 16));
        break;
    }
}

PELK_TEST_MAIN(tst_DeviceAgentBus, PelkPlus::ConsoleTest)

#include "tst_DeviceAgentBus.moc"
