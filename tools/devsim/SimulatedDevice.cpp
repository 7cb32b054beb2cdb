#include "SimulatedDevice.h"

#include "device/FirmwareVersion.h"

namespace PelkPlus {

namespace {

constexpr int reportSize = 65;
constexpr int inputSize = 64;
constexpr int sectorSize = 65536;
constexpr int packetsPerSector = 1171;
constexpr int lastChunkSize = 16;

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
{ }

bool SimulatedDevice::holdsImage(int component, const QByteArray& image) const
{
    const QByteArray& installed = images.at(size_t(component));
    return installed.size() >= image.size() && installed.startsWith(image)
        && installed.mid(image.size()) == QByteArray(installed.size() - image.size(), '\0');
}

QByteArray SimulatedDevice::versionMarker(const QString& version)
{
    return QByteArrayLiteral("PELKVER=") + version.toLatin1() + ';';
}

void SimulatedDevice::log(const QString& line) const
{
    if (logSink)
        logSink(QStringLiteral("%1: %2").arg(deviceSettings.path, line));
}

void SimulatedDevice::violation(const QString& what)
{
    violationList.append(what);
    log(QStringLiteral("violation: ") + what);
    if (receiving != Receiving::Nothing) {
        if (receiving != Receiving::Rejected)
            rejected = receiving;
        receiving = Receiving::Rejected;
    }
}

bool SimulatedDevice::checkZero(const unsigned char* payload, int from, const QString& packetName)
{
    for (int i = from; i < 56; ++i) {
        if (payload[i] != 0) {
            violation(QStringLiteral("%1: payload byte %2 is 0x%3 where the packet leaves it zero")
                          .arg(packetName)
                          .arg(i)
                          .arg(payload[i], 2, 16, QLatin1Char('0')));
            return false;
        }
    }
    return true;
}

// While a rejected transfer's packets keep coming they are dropped without a word; a packet that
// begins another transfer before the quiet period has reset the device is reported, so that a
// valid stream is never lost unseen.
bool SimulatedDevice::continuesRejected(Receiving what, const QString& packetName)
{
    if (receiving != Receiving::Rejected)
        return false;
    if (what != rejected) {
        violation(QStringLiteral("%1 begins a transfer the device ignores: it still rejects the one before")
                      .arg(packetName));
        rejected = what;
    }
    return true;
}

void SimulatedDevice::connectionOpened()
{
    if (receiving != Receiving::Nothing && receiving != Receiving::Rejected)
        log(QStringLiteral("transfer abandoned: a new connection was opened"));
    receiving = Receiving::Nothing;
    // The link counts from 0 again: its first counted packet must carry 0.
    expectedSequence = 0;
}

void SimulatedDevice::restarted()
{
    rebootIsPending = false;
    imageInstalled = false;
    lostAfterInstall = 0;
    rebooted = true;
    receiving = Receiving::Nothing;
    expectedSequence = -1;
    readyQueries = 0;
}

QByteArray SimulatedDevice::headerReply() const
{
    QByteArray reply(inputSize, '\0');
    auto* r = reinterpret_cast<unsigned char*>(reply.data());
    const Settings& s = deviceSettings;
    r[0] = 0xDB;
    r[1] = 0x03;
    r[2] = 0x09;
    r[10] = s.ensembleVersion & 0xFF;
    r[11] = (s.ensembleVersion >> 8) & 0xFF;
    r[12] = (s.ensembleVersion >> 16) & 0xFF;
    r[13] = 0xA5; // not part of any version
    r[14] = (s.ensembleVersion >> 24) & 0xFF;
    r[15] = s.stylesVersion & 0xFF;
    r[16] = (s.stylesVersion >> 8) & 0xFF;
    unsigned mcuHigh = (s.mcuWord >> 8) & 0xFF;
    unsigned dspHigh = (s.dspWord >> 8) & 0xFF;
    if (s.model == Base && s.clearBaseReleaseBits) {
        mcuHigh &= ~0x03u;
        dspHigh &= ~0x03u;
    }
    r[20] = s.mcuWord & 0xFF;
    r[21] = static_cast<unsigned char>(mcuHigh);
    if (s.model == Plus && s.mcuWord <= 0x0064) {
        // Old MCU firmware packs the DSP version into one byte: release type bits at 7 and 3,
        // major in bits 6-4, minor in bits 2-0. The byte after it means nothing then.
        r[18]
            = static_cast<unsigned char>(((dspHigh >> 1) & 1) << 7 | (dspHigh & 1) << 3 | (s.dspWord & 0x77));
        r[19] = 0xEE;
    } else {
        r[18] = s.dspWord & 0xFF;
        r[19] = static_cast<unsigned char>(dspHigh);
    }
    r[22] = s.tag & 0xFF;
    r[23] = (s.tag >> 8) & 0xFF;
    switch (s.header) {
    case HeaderBehaviour::BadSignature:
        r[0] = 0xDC;
        break;
    case HeaderBehaviour::BadCommand:
        r[2] = 0x0A;
        break;
    case HeaderBehaviour::BadCount:
        r[5] = 0x02;
        break;
    default:
        break;
    }
    return reply;
}

bool SimulatedDevice::checkSequence(unsigned sequence)
{
    if (expectedSequence >= 0 && int(sequence) != expectedSequence) {
        violation(QStringLiteral("packet %1 carries sequence %2, expected %3")
                      .arg(packets)
                      .arg(sequence)
                      .arg(expectedSequence));
        followSequence(sequence);
        return false;
    }
    followSequence(sequence);
    return true;
}

void SimulatedDevice::followSequence(unsigned sequence)
{
    expectedSequence = sequence >= 65535 ? 0 : int(sequence) + 1;
}

bool SimulatedDevice::terminationDue(Receiving what) const
{
    const bool dspBetaOrLater = ((deviceSettings.dspWord >> 8) & 0xFF) >= 1;
    if (what == Receiving::StylesSectors)
        return dspBetaOrLater;
    return deviceSettings.model == Plus && dspBetaOrLater;
}

void SimulatedDevice::beginReceiving(Receiving what)
{
    if (receiving != Receiving::Nothing && receiving != Receiving::Rejected)
        log(QStringLiteral("transfer abandoned: another began"));
    receiving = what;
    buffer.clear();
    checksum = 0;
    sectorPackets = 0;
    sectorCount = 0;
    sectorEndedAt = -1;
    lastDataSequence = -1;
}

SimulatedDevice::Request SimulatedDevice::install(int component, const QByteArray& image)
{
    images[size_t(component)] = image;
    checksums[size_t(component)] = checksum;
    ++installs;
    imageInstalled = true;
    receiving = Receiving::Nothing;
    // The marker is searched in the raw bytes: an image is binary and may hold zero bytes anywhere.
    QString versionText;
    const QByteArray prefix = QByteArrayLiteral("PELKVER=");
    const int at = image.indexOf(prefix);
    const int end = at >= 0 ? image.indexOf(';', at + prefix.size()) : -1;
    if (end > at && end - at - prefix.size() <= 16 && !deviceSettings.keepVersionAfterInstall) {
        versionText = QString::fromLatin1(image.mid(at + prefix.size(), end - at - prefix.size()));
        bool ok = false;
        switch (component) {
        case Mcu:
            deviceSettings.mcuWord = parseFirmwareVersion(versionText).toWord();
            break;
        case Dsp:
            deviceSettings.dspWord = parseFirmwareVersion(versionText).toWord();
            break;
        case Styles:
            deviceSettings.stylesVersion = quint16(versionText.toUInt(&ok, 0));
            break;
        default:
            deviceSettings.ensembleVersion = versionText.toUInt(&ok, 0);
            break;
        }
    }
    log(QStringLiteral("installed %1: %2 bytes, checksum %3, version %4")
            .arg(QLatin1String(componentName(component)))
            .arg(image.size())
            .arg(checksum, 2, 16, QLatin1Char('0'))
            .arg(versionText.isEmpty() ? QStringLiteral("unchanged") : versionText));
    if (!deviceSettings.dropOffAfterInstall) {
        log(QStringLiteral("staying on the bus until power-cycled"));
        return Request::None;
    }
    rebootIsPending = true;
    return Request::Reboot;
}

SimulatedDevice::Request SimulatedDevice::finishSectors()
{
    const int component = receiving == Receiving::StylesSectors ? Styles : Ensemble;
    return install(component, buffer);
}

SimulatedDevice::Request SimulatedDevice::idle(qint64 nowMs)
{
    if (receiving == Receiving::Nothing || nowMs - lastPacketAt < deviceSettings.quietCompleteMs)
        return Request::None;
    const Receiving was = receiving;
    // A host may stop a transfer anywhere; what it left unfinished is abandoned, not a fault.
    if (was == Receiving::StylesSectors || was == Receiving::EnsembleSectors) {
        if (sectorPackets != 0 && sectorPackets != packetsPerSector) {
            log(QStringLiteral("transfer abandoned: stopped after %1 of %2 packets of sector %3")
                    .arg(sectorPackets)
                    .arg(packetsPerSector)
                    .arg(sectorCount));
        } else if (terminationDue(was)) {
            log(QStringLiteral("transfer abandoned: no terminating packet after sector %1").arg(sectorCount));
        } else {
            return finishSectors();
        }
    } else if (was != Receiving::Rejected) {
        log(QStringLiteral("transfer abandoned: no end packet"));
    }
    receiving = Receiving::Nothing;
    return Request::None;
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
    const unsigned command = unsigned(p[3]) << 8 | p[2];
    const unsigned length = unsigned(p[5]) << 8 | p[4];
    const unsigned sequence = unsigned(p[7]) << 8 | p[6];
    const unsigned char* payload = p + 8;
    lastPacketAt = nowMs;
    if (p[0] != 0xDB || p[1] != 0x03) {
        violation(QStringLiteral("packet with signature %1 %2").arg(p[0], 2, 16).arg(p[1], 2, 16));
        return Request::None;
    }
    const QString packetName = QStringLiteral("command %1, sequence %2").arg(hex4(command)).arg(sequence);
    if (imageInstalled) {
        // Between an install and the restart the device only reboots; whatever arrives is lost.
        // Said once: the rest of what the host sends then is the same fault.
        if (lostAfterInstall++ == 0)
            violation(
                QStringLiteral("%1 arrived after an install, before the device restarted").arg(packetName));
        return Request::None;
    }
    const bool receivingSectors
        = receiving == Receiving::StylesSectors || receiving == Receiving::EnsembleSectors;
    if (receivingSectors && sectorPackets == packetsPerSector
        && nowMs - sectorEndedAt < deviceSettings.sectorWriteMs - pauseSlackMs()) {
        violation(QStringLiteral("%1 arrived %2 ms after sector %3 ended, while it was being written")
                      .arg(packetName)
                      .arg(nowMs - sectorEndedAt)
                      .arg(sectorCount));
        return Request::None;
    }

    switch (command) {
    case 0x000A: { // header request
        checkSequence(sequence);
        if (length != 0)
            violation(QStringLiteral("header request with length %1").arg(length));
        checkZero(payload, 0, packetName);
        if (deviceSettings.header == HeaderBehaviour::NoAnswer
            || (rebooted && !deviceSettings.headerAfterReboot)) {
            log(QStringLiteral("header request left unanswered"));
            return Request::None;
        }
        replies.append(headerReply());
        log(QStringLiteral("header sent"));
        return Request::None;
    }
    case 0x0012: { // ready query
        if (sequence != 0 || length != 3 || payload[0] != 0x0B)
            violation(QStringLiteral("malformed ready query (%1, length %2)").arg(packetName).arg(length));
        checkZero(payload, 1, packetName);
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
        QByteArray reply(inputSize, '\0');
        reply[0] = char(0xDB);
        reply[1] = 0x03;
        reply[2] = 0x13;
        reply[8] = 0x0B;
        reply[10] = char(flag);
        replies.append(reply);
        log(QStringLiteral("ready query answered %1").arg(flag));
        return Request::None;
    }
    case 0x0004:
    case 0x0002: { // firmware data
        const bool mcu = command == 0x0004;
        const unsigned expectedLength = mcu ? 56 : 54;
        const Receiving stream = mcu ? Receiving::McuStream : Receiving::DspStream;
        ++packets;
        if (continuesRejected(stream, packetName)) {
            followSequence(sequence);
            break;
        }
        if (receiving != stream)
            beginReceiving(stream);
        const bool inOrder = checkSequence(sequence);
        lastDataSequence = int(sequence);
        if (!inOrder)
            break;
        if (length != expectedLength) {
            violation(QStringLiteral("%1 has length %2, expected %3")
                          .arg(packetName)
                          .arg(length)
                          .arg(expectedLength));
            break;
        }
        if (!mcu && (payload[54] != 0 || payload[55] != 0)) {
            violation(QStringLiteral("%1 carries bytes beyond its 54").arg(packetName));
            break;
        }
        for (unsigned i = 0; i < expectedLength; ++i)
            checksum ^= payload[i];
        buffer.append(reinterpret_cast<const char*>(payload), int(expectedLength));
        break;
    }
    case 0x0005:
    case 0x0003: { // firmware end
        const bool mcu = command == 0x0005;
        const Receiving stream = mcu ? Receiving::McuStream : Receiving::DspStream;
        if (receiving == Receiving::Rejected) {
            log(QStringLiteral("end packet of a rejected stream ignored; nothing installed"));
            receiving = Receiving::Nothing;
            return Request::None;
        }
        if (receiving != stream) {
            violation(QStringLiteral("%1: end packet without a stream").arg(packetName));
            return Request::None;
        }
        if (int(sequence) != lastDataSequence) {
            violation(QStringLiteral("%1: end packet must repeat the last data sequence %2")
                          .arg(packetName)
                          .arg(lastDataSequence));
        } else if (length != 0) {
            violation(QStringLiteral("%1: end packet with length %2").arg(packetName).arg(length));
        } else if (!checkZero(payload, 1, packetName)) {
        } else if (payload[0] != checksum) {
            violation(QStringLiteral("%1: checksum %2, the data gives %3")
                          .arg(packetName)
                          .arg(payload[0], 2, 16, QLatin1Char('0'))
                          .arg(checksum, 2, 16, QLatin1Char('0')));
        } else {
            return install(mcu ? Mcu : Dsp, buffer);
        }
        receiving = Receiving::Nothing;
        return Request::None;
    }
    case 0x0014:
    case 0x0007: { // flash sector data
        const bool styles = command == 0x0014;
        const Receiving sectors = styles ? Receiving::StylesSectors : Receiving::EnsembleSectors;
        ++packets;
        if (continuesRejected(sectors, packetName)) {
            followSequence(sequence);
            break;
        }
        if (receiving != sectors) {
            beginReceiving(sectors);
            if (styles && deviceSettings.model != Plus)
                violation(QStringLiteral("%1: a Pelk has no Styles memory").arg(packetName));
        }
        const bool inOrder = checkSequence(sequence);
        if (receiving == Receiving::Rejected || !inOrder)
            break;
        // The pause after the sector before was checked on arrival.
        if (sectorPackets == packetsPerSector)
            sectorPackets = 0;
        if (sectorPackets == 0) {
            ++sectorCount;
            const int limit = styles ? 32 : (deviceSettings.model == Plus ? 208 : 80);
            if (sectorCount > limit) {
                violation(QStringLiteral("%1: sector %2 is beyond the memory of %3 sectors")
                              .arg(packetName)
                              .arg(sectorCount)
                              .arg(limit));
                break;
            }
        }
        const unsigned expectedLength = sectorPackets == packetsPerSector - 1 ? lastChunkSize : 56;
        if (length != expectedLength) {
            violation(QStringLiteral("%1: packet %2 of sector %3 has length %4, expected %5")
                          .arg(packetName)
                          .arg(sectorPackets + 1)
                          .arg(sectorCount)
                          .arg(length)
                          .arg(expectedLength));
            break;
        }
        if (expectedLength == lastChunkSize && !checkZero(payload, lastChunkSize, packetName))
            break;
        buffer.append(reinterpret_cast<const char*>(payload), int(expectedLength));
        if (++sectorPackets == packetsPerSector)
            sectorEndedAt = nowMs;
        break;
    }
    case 0x0015: { // terminate
        if (sequence != 0 || length != 0)
            violation(
                QStringLiteral("%1: terminating packet must carry sequence 0 and length 0").arg(packetName));
        checkZero(payload, 0, packetName);
        if (receiving == Receiving::Rejected) {
            receiving = Receiving::Nothing;
            return Request::None;
        }
        if (receiving != Receiving::StylesSectors && receiving != Receiving::EnsembleSectors) {
            violation(QStringLiteral("%1: terminating packet without sectors").arg(packetName));
            return Request::None;
        }
        if (!terminationDue(receiving)) {
            violation(QStringLiteral("%1: terminating packet where none is due").arg(packetName));
            receiving = Receiving::Nothing;
            return Request::None;
        }
        if (sectorPackets != packetsPerSector) {
            violation(
                QStringLiteral("%1: terminating packet inside sector %2").arg(packetName).arg(sectorCount));
            receiving = Receiving::Nothing;
            return Request::None;
        }
        return finishSectors();
    }
    default:
        violation(QStringLiteral("unknown %1").arg(packetName));
        return Request::None;
    }
    if (deviceSettings.unplugAfterPacket >= 0 && packets >= deviceSettings.unplugAfterPacket) {
        deviceSettings.unplugAfterPacket = -1;
        log(QStringLiteral("unplugging after packet %1").arg(packets));
        return Request::Unplug;
    }
    return Request::None;
}

} // namespace PelkPlus
