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
    : m_settings(settings)
{ }

bool SimulatedDevice::holdsImage(int component, const QByteArray& image) const
{
    const QByteArray& installed = m_images.at(size_t(component));
    return installed.size() >= image.size() && installed.startsWith(image)
        && installed.mid(image.size()) == QByteArray(installed.size() - image.size(), '\0');
}

QByteArray SimulatedDevice::versionMarker(const QString& version)
{
    return QByteArrayLiteral("PELKVER=") + version.toLatin1() + ';';
}

void SimulatedDevice::log(const QString& line) const
{
    if (m_log)
        m_log(QStringLiteral("%1: %2").arg(m_settings.path, line));
}

void SimulatedDevice::violation(const QString& what)
{
    m_violations.append(what);
    log(QStringLiteral("violation: ") + what);
    if (m_receiving != Receiving::Nothing) {
        if (m_receiving != Receiving::Rejected)
            m_rejected = m_receiving;
        m_receiving = Receiving::Rejected;
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
    if (m_receiving != Receiving::Rejected)
        return false;
    if (what != m_rejected) {
        violation(QStringLiteral("%1 begins a transfer the device ignores: it still rejects the one before")
                      .arg(packetName));
        m_rejected = what;
    }
    return true;
}

void SimulatedDevice::connectionOpened()
{
    if (m_receiving != Receiving::Nothing && m_receiving != Receiving::Rejected)
        log(QStringLiteral("transfer abandoned: a new connection was opened"));
    m_receiving = Receiving::Nothing;
    // The link counts from 0 again: its first counted packet must carry 0.
    m_expectedSequence = 0;
}

void SimulatedDevice::restarted()
{
    m_rebootPending = false;
    m_installed = false;
    m_lostAfterInstall = 0;
    m_rebooted = true;
    m_receiving = Receiving::Nothing;
    m_expectedSequence = -1;
    m_readyQueries = 0;
}

QByteArray SimulatedDevice::headerReply() const
{
    QByteArray reply(inputSize, '\0');
    auto* r = reinterpret_cast<unsigned char*>(reply.data());
    const Settings& s = m_settings;
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
    if (m_expectedSequence >= 0 && int(sequence) != m_expectedSequence) {
        violation(QStringLiteral("packet %1 carries sequence %2, expected %3")
                      .arg(m_packets)
                      .arg(sequence)
                      .arg(m_expectedSequence));
        followSequence(sequence);
        return false;
    }
    followSequence(sequence);
    return true;
}

void SimulatedDevice::followSequence(unsigned sequence)
{
    m_expectedSequence = sequence >= 65535 ? 0 : int(sequence) + 1;
}

bool SimulatedDevice::terminationDue(Receiving what) const
{
    const bool dspBetaOrLater = ((m_settings.dspWord >> 8) & 0xFF) >= 1;
    if (what == Receiving::StylesSectors)
        return dspBetaOrLater;
    return m_settings.model == Plus && dspBetaOrLater;
}

void SimulatedDevice::beginReceiving(Receiving what)
{
    if (m_receiving != Receiving::Nothing && m_receiving != Receiving::Rejected)
        log(QStringLiteral("transfer abandoned: another began"));
    m_receiving = what;
    m_buffer.clear();
    m_checksum = 0;
    m_sectorPackets = 0;
    m_sectors = 0;
    m_sectorEndedAt = -1;
    m_lastDataSequence = -1;
}

SimulatedDevice::Request SimulatedDevice::install(int component, const QByteArray& image)
{
    m_images[size_t(component)] = image;
    m_checksums[size_t(component)] = m_checksum;
    ++m_installs;
    m_installed = true;
    m_receiving = Receiving::Nothing;
    // The marker is searched in the raw bytes: an image is binary and may hold zero bytes anywhere.
    QString versionText;
    const QByteArray prefix = QByteArrayLiteral("PELKVER=");
    const int at = image.indexOf(prefix);
    const int end = at >= 0 ? image.indexOf(';', at + prefix.size()) : -1;
    if (end > at && end - at - prefix.size() <= 16 && !m_settings.keepVersionAfterInstall) {
        versionText = QString::fromLatin1(image.mid(at + prefix.size(), end - at - prefix.size()));
        bool ok = false;
        switch (component) {
        case Mcu:
            m_settings.mcuWord = parseFirmwareVersion(versionText).toWord();
            break;
        case Dsp:
            m_settings.dspWord = parseFirmwareVersion(versionText).toWord();
            break;
        case Styles:
            m_settings.stylesVersion = quint16(versionText.toUInt(&ok, 0));
            break;
        default:
            m_settings.ensembleVersion = versionText.toUInt(&ok, 0);
            break;
        }
    }
    log(QStringLiteral("installed %1: %2 bytes, checksum %3, version %4")
            .arg(QLatin1String(componentName(component)))
            .arg(image.size())
            .arg(m_checksum, 2, 16, QLatin1Char('0'))
            .arg(versionText.isEmpty() ? QStringLiteral("unchanged") : versionText));
    if (!m_settings.dropOffAfterInstall) {
        log(QStringLiteral("staying on the bus until power-cycled"));
        return Request::None;
    }
    m_rebootPending = true;
    return Request::Reboot;
}

SimulatedDevice::Request SimulatedDevice::finishSectors()
{
    const int component = m_receiving == Receiving::StylesSectors ? Styles : Ensemble;
    return install(component, m_buffer);
}

SimulatedDevice::Request SimulatedDevice::idle(qint64 nowMs)
{
    if (m_receiving == Receiving::Nothing || nowMs - m_lastPacketAt < m_settings.quietCompleteMs)
        return Request::None;
    const Receiving was = m_receiving;
    // A host may stop a transfer anywhere; what it left unfinished is abandoned, not a fault.
    if (was == Receiving::StylesSectors || was == Receiving::EnsembleSectors) {
        if (m_sectorPackets != 0 && m_sectorPackets != packetsPerSector) {
            log(QStringLiteral("transfer abandoned: stopped after %1 of %2 packets of sector %3")
                    .arg(m_sectorPackets)
                    .arg(packetsPerSector)
                    .arg(m_sectors));
        } else if (terminationDue(was)) {
            log(QStringLiteral("transfer abandoned: no terminating packet after sector %1").arg(m_sectors));
        } else {
            return finishSectors();
        }
    } else if (was != Receiving::Rejected) {
        log(QStringLiteral("transfer abandoned: no end packet"));
    }
    m_receiving = Receiving::Nothing;
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
    m_lastPacketAt = nowMs;
    if (p[0] != 0xDB || p[1] != 0x03) {
        violation(QStringLiteral("packet with signature %1 %2").arg(p[0], 2, 16).arg(p[1], 2, 16));
        return Request::None;
    }
    const QString packetName = QStringLiteral("command %1, sequence %2").arg(hex4(command)).arg(sequence);
    if (m_installed) {
        // Between an install and the restart the device only reboots; whatever arrives is lost.
        // Said once: the rest of what the host sends then is the same fault.
        if (m_lostAfterInstall++ == 0)
            violation(
                QStringLiteral("%1 arrived after an install, before the device restarted").arg(packetName));
        return Request::None;
    }
    const bool receivingSectors
        = m_receiving == Receiving::StylesSectors || m_receiving == Receiving::EnsembleSectors;
    if (receivingSectors && m_sectorPackets == packetsPerSector
        && nowMs - m_sectorEndedAt < m_settings.sectorWriteMs - pauseSlackMs()) {
        violation(QStringLiteral("%1 arrived %2 ms after sector %3 ended, while it was being written")
                      .arg(packetName)
                      .arg(nowMs - m_sectorEndedAt)
                      .arg(m_sectors));
        return Request::None;
    }

    switch (command) {
    case 0x000A: { // header request
        checkSequence(sequence);
        if (length != 0)
            violation(QStringLiteral("header request with length %1").arg(length));
        checkZero(payload, 0, packetName);
        if (m_settings.header == HeaderBehaviour::NoAnswer || (m_rebooted && !m_settings.headerAfterReboot)) {
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
        ++m_readyQueries;
        int flag = 1;
        switch (m_settings.ready) {
        case ReadyBehaviour::NoAnswer:
            return Request::None;
        case ReadyBehaviour::Never:
            flag = 0;
            break;
        case ReadyBehaviour::AfterQueries:
            flag = m_readyQueries > m_settings.readyAfterQueries ? 1 : 0;
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
        ++m_packets;
        if (continuesRejected(stream, packetName)) {
            followSequence(sequence);
            break;
        }
        if (m_receiving != stream)
            beginReceiving(stream);
        const bool inOrder = checkSequence(sequence);
        m_lastDataSequence = int(sequence);
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
            m_checksum ^= payload[i];
        m_buffer.append(reinterpret_cast<const char*>(payload), int(expectedLength));
        break;
    }
    case 0x0005:
    case 0x0003: { // firmware end
        const bool mcu = command == 0x0005;
        const Receiving stream = mcu ? Receiving::McuStream : Receiving::DspStream;
        if (m_receiving == Receiving::Rejected) {
            log(QStringLiteral("end packet of a rejected stream ignored; nothing installed"));
            m_receiving = Receiving::Nothing;
            return Request::None;
        }
        if (m_receiving != stream) {
            violation(QStringLiteral("%1: end packet without a stream").arg(packetName));
            return Request::None;
        }
        if (int(sequence) != m_lastDataSequence) {
            violation(QStringLiteral("%1: end packet must repeat the last data sequence %2")
                          .arg(packetName)
                          .arg(m_lastDataSequence));
        } else if (length != 0) {
            violation(QStringLiteral("%1: end packet with length %2").arg(packetName).arg(length));
        } else if (!checkZero(payload, 1, packetName)) {
        } else if (payload[0] != m_checksum) {
            violation(QStringLiteral("%1: checksum %2, the data gives %3")
                          .arg(packetName)
                          .arg(payload[0], 2, 16, QLatin1Char('0'))
                          .arg(m_checksum, 2, 16, QLatin1Char('0')));
        } else {
            return install(mcu ? Mcu : Dsp, m_buffer);
        }
        m_receiving = Receiving::Nothing;
        return Request::None;
    }
    case 0x0014:
    case 0x0007: { // flash sector data
        const bool styles = command == 0x0014;
        const Receiving sectors = styles ? Receiving::StylesSectors : Receiving::EnsembleSectors;
        ++m_packets;
        if (continuesRejected(sectors, packetName)) {
            followSequence(sequence);
            break;
        }
        if (m_receiving != sectors) {
            beginReceiving(sectors);
            if (styles && m_settings.model != Plus)
                violation(QStringLiteral("%1: a Pelk has no Styles memory").arg(packetName));
        }
        const bool inOrder = checkSequence(sequence);
        if (m_receiving == Receiving::Rejected || !inOrder)
            break;
        // The pause after the sector before was checked on arrival.
        if (m_sectorPackets == packetsPerSector)
            m_sectorPackets = 0;
        if (m_sectorPackets == 0) {
            ++m_sectors;
            const int limit = styles ? 32 : (m_settings.model == Plus ? 208 : 80);
            if (m_sectors > limit) {
                violation(QStringLiteral("%1: sector %2 is beyond the memory of %3 sectors")
                              .arg(packetName)
                              .arg(m_sectors)
                              .arg(limit));
                break;
            }
        }
        const unsigned expectedLength = m_sectorPackets == packetsPerSector - 1 ? lastChunkSize : 56;
        if (length != expectedLength) {
            violation(QStringLiteral("%1: packet %2 of sector %3 has length %4, expected %5")
                          .arg(packetName)
                          .arg(m_sectorPackets + 1)
                          .arg(m_sectors)
                          .arg(length)
                          .arg(expectedLength));
            break;
        }
        if (expectedLength == lastChunkSize && !checkZero(payload, lastChunkSize, packetName))
            break;
        m_buffer.append(reinterpret_cast<const char*>(payload), int(expectedLength));
        if (++m_sectorPackets == packetsPerSector)
            m_sectorEndedAt = nowMs;
        break;
    }
    case 0x0015: { // terminate
        if (sequence != 0 || length != 0)
            violation(
                QStringLiteral("%1: terminating packet must carry sequence 0 and length 0").arg(packetName));
        checkZero(payload, 0, packetName);
        if (m_receiving == Receiving::Rejected) {
            m_receiving = Receiving::Nothing;
            return Request::None;
        }
        if (m_receiving != Receiving::StylesSectors && m_receiving != Receiving::EnsembleSectors) {
            violation(QStringLiteral("%1: terminating packet without sectors").arg(packetName));
            return Request::None;
        }
        if (!terminationDue(m_receiving)) {
            violation(QStringLiteral("%1: terminating packet where none is due").arg(packetName));
            m_receiving = Receiving::Nothing;
            return Request::None;
        }
        if (m_sectorPackets != packetsPerSector) {
            violation(
                QStringLiteral("%1: terminating packet inside sector %2").arg(packetName).arg(m_sectors));
            m_receiving = Receiving::Nothing;
            return Request::None;
        }
        return finishSectors();
    }
    default:
        violation(QStringLiteral("unknown %1").arg(packetName));
        return Request::None;
    }
    if (m_settings.unplugAfterPacket >= 0 && m_packets >= m_settings.unplugAfterPacket) {
        m_settings.unplugAfterPacket = -1;
        log(QStringLiteral("unplugging after packet %1").arg(m_packets));
        return Request::Unplug;
    }
    return Request::None;
}

} // namespace PelkPlus
