#include "SimulatedDevice.h"

#include "DeviceReplies.h"

namespace PelkPlus {

namespace {

constexpr int reportSize = 65;

const char* componentName(int component)
{
    static const char* const names[] = { "MCU firmware", "DSP firmware", "Styles", "Ensemble Audio" };
    return names[component];
}

QString hex4(unsigned value)
{
    return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0'));
}

} // namespace

SimulatedDevice::SimulatedDevice(const Settings& settings)
    : deviceSettings(settings)
    , journal(settings.path)
{ }

void SimulatedDevice::connectionOpened()
{
    transfer.connectionOpened(journal);
}

void SimulatedDevice::restarted()
{
    rebootIsPending = false;
    imageInstalled = false;
    lostAfterInstall = 0;
    rebooted = true;
    transfer.restarted();
    readyQueries = 0;
}

QByteArray SimulatedDevice::headerReply() const
{
    return DeviceReplies::header(deviceSettings);
}

SimulatedDevice::Request SimulatedDevice::install(int component)
{
    if (component == TransferReceiver::noComponent)
        return Request::None;
    const QByteArray& image = transfer.image();
    const quint8 checksum = transfer.imageChecksum();
    const QString versionText = memory.install(component, image, checksum, deviceSettings);
    imageInstalled = true;
    journal.log(QStringLiteral("installed %1: %2 bytes, checksum %3, version %4")
                    .arg(QLatin1String(componentName(component)))
                    .arg(image.size())
                    .arg(checksum, 2, 16, QLatin1Char('0'))
                    .arg(versionText.isEmpty() ? QStringLiteral("unchanged") : versionText));
    if (!deviceSettings.dropOffAfterInstall) {
        journal.log(QStringLiteral("staying on the bus until power-cycled"));
        return Request::None;
    }
    rebootIsPending = true;
    return Request::Reboot;
}

SimulatedDevice::Request SimulatedDevice::idle(qint64 nowMs)
{
    if (!transfer.isReceiving() || nowMs - lastPacketAt < deviceSettings.quietCompleteMs)
        return Request::None;
    return install(transfer.quiet(deviceSettings, journal));
}

SimulatedDevice::Request SimulatedDevice::receive(
    const QByteArray& report, qint64 nowMs, QVector<QByteArray>& replies)
{
    if (report.size() != reportSize) {
        violation(QStringLiteral("report of %1 bytes").arg(report.size()));
        return Request::None;
    }
    if (report.at(0) != 0) {
        violation(QStringLiteral("report ID 0x%1, the device takes only 0x00")
                      .arg(quint8(report.at(0)), 2, 16, QLatin1Char('0')));
        return Request::None;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(report.constData()) + 1;
    Packet packet;
    packet.command = unsigned(p[3]) << 8 | p[2];
    packet.length = unsigned(p[5]) << 8 | p[4];
    packet.sequence = unsigned(p[7]) << 8 | p[6];
    packet.payload = p + 8;
    lastPacketAt = nowMs;
    if (p[0] != 0xDB || p[1] != 0x03) {
        violation(QStringLiteral("packet with signature %1 %2").arg(p[0], 2, 16).arg(p[1], 2, 16));
        return Request::None;
    }
    packet.name = QStringLiteral("command %1, sequence %2").arg(hex4(packet.command)).arg(packet.sequence);
    if (imageInstalled) {
        // Between an install and the restart the device only reboots; whatever arrives is lost.
        // Said once: the rest of what the host sends then is the same fault.
        if (lostAfterInstall++ == 0)
            violation(
                QStringLiteral("%1 arrived after an install, before the device restarted").arg(packet.name));
        return Request::None;
    }
    if (transfer.arrivesWhileWriting(packet, nowMs, deviceSettings.sectorWriteMs - pauseSlackMs(), journal))
        return Request::None;

    switch (packet.command) {
    case 0x000A:
        return answerHeader(packet, replies);
    case 0x0012:
        return answerReady(packet, replies);
    case 0x0004:
    case 0x0002: // firmware data
        transfer.streamData(packet, journal);
        return unplugIfDue();
    case 0x0005:
    case 0x0003: // firmware end
        return install(transfer.streamEnd(packet, journal));
    case 0x0014:
    case 0x0007: // flash sector data
        transfer.sectorData(packet, nowMs, deviceSettings, journal);
        if (deviceSettings.versionBeforeLastSector && transfer.isReceiving()) {
            const QString version = memory.storeMarkedVersion(
                packet.command == 0x0014 ? Styles : Ensemble, transfer.image(), deviceSettings);
            if (!version.isEmpty())
                journal.log(QStringLiteral("version %1 stored before the last sector").arg(version));
        }
        return unplugIfDue();
    case 0x0015: // terminate
        return install(transfer.terminate(packet, deviceSettings, journal));
    default:
        violation(QStringLiteral("unknown %1").arg(packet.name));
        return Request::None;
    }
}

SimulatedDevice::Request SimulatedDevice::answerHeader(const Packet& packet, QVector<QByteArray>& replies)
{
    transfer.checkSequence(packet.sequence, journal);
    if (packet.length != 0)
        violation(QStringLiteral("header request with length %1").arg(packet.length));
    transfer.checkZero(packet, 0, journal);
    if (deviceSettings.header == HeaderBehaviour::NoAnswer
        || (rebooted && !deviceSettings.headerAfterReboot)) {
        journal.log(QStringLiteral("header request left unanswered"));
        return Request::None;
    }
    replies.append(headerReply());
    journal.log(QStringLiteral("header sent"));
    return Request::None;
}

SimulatedDevice::Request SimulatedDevice::answerReady(const Packet& packet, QVector<QByteArray>& replies)
{
    if (packet.sequence != 0 || packet.length != 3 || packet.payload[0] != 0x0B)
        violation(
            QStringLiteral("malformed ready query (%1, length %2)").arg(packet.name).arg(packet.length));
    transfer.checkZero(packet, 1, journal);
    ++readyQueries;
    int flag = 1;
    switch (deviceSettings.ready) {
    case ReadyBehaviour::NoAnswer:
        return Request::None;
    case ReadyBehaviour::Never:
        flag = 0;
        break;
    case ReadyBehaviour::AfterQueries:
        flag = readyQueries > deviceSettings.readyAfterQueries ? 1 : 0;
        break;
    default:
        break;
    }
    replies.append(DeviceReplies::ready(flag));
    journal.log(QStringLiteral("ready query answered %1").arg(flag));
    return Request::None;
}

SimulatedDevice::Request SimulatedDevice::unplugIfDue()
{
    const int packets = transfer.packetCount();
    if (deviceSettings.unplugAfterPacket < 0 || packets < deviceSettings.unplugAfterPacket)
        return Request::None;
    deviceSettings.unplugAfterPacket = -1;
    journal.log(QStringLiteral("unplugging after packet %1").arg(packets));
    return Request::Unplug;
}

} // namespace PelkPlus
