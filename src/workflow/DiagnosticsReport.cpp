#include "workflow/DiagnosticsReport.h"

#include "workflow/VersionText.h"

#include "app/CharacterLocale.h"
#include "app/ConfigurationManager.h"
#include "app/LogFile.h"
#include "app/PelkVersion.h"
#include "app/UpdateHistory.h"
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "device/HidBackend.h"
#include "device/RecordingBackend.h"
#include "update/CatalogueSignature.h"
#include "update/DownloadReplies.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTextStream>
#include <QUrl>

#include <clocale>

namespace PelkPlus {

namespace {

// Every URL in a log line as the log writes one now: lines an older updater wrote may still carry
// a password or a token.
QString redactedLine(const QString& line)
{
    static const QRegularExpression url(QStringLiteral("[A-Za-z][A-Za-z0-9+.-]*://[^\\s\"'<>]+"));
    QString redacted;
    int from = 0;
    for (QRegularExpressionMatchIterator it = url.globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        redacted += line.mid(from, match.capturedStart() - from)
            + DownloadReplies::displaySource(match.captured());
        from = match.capturedEnd();
    }
    return redacted + line.mid(from);
}

} // namespace

QString DiagnosticsReport::hidBackendText()
{
    const QString name = QLatin1String(hidBackend()->name);
    const QByteArray socket = qgetenv("PELK_HIDSIM_SOCKET");
    if (name == QLatin1String("hidapi") || socket.isEmpty())
        return name;
    return QStringLiteral("%1 (socket %2)").arg(name, QString::fromLocal8Bit(socket));
}

QString DiagnosticsReport::hidRecordingText()
{
    hidBackend(); // the recording starts with the choice of backend
    const char* path = hidRecordingPath();
    if (path)
        return QStringLiteral("on, every HID call is written to %1").arg(QString::fromLocal8Bit(path));
    const QByteArray asked = qgetenv("PELK_HID_RECORD");
    if (!asked.isEmpty())
        return QStringLiteral("off (%1 could not be created)").arg(QString::fromLocal8Bit(asked));
    return QStringLiteral("off (set PELK_HID_RECORD=FILE to record)");
}

QString DiagnosticsReport::deviceText(const DiagnosticsDevice& device)
{
    const Connection& c = device.connection;
    QString line = QStringLiteral("%1, serial number %2, path %3")
                       .arg(QLatin1String(modelName(c.model)), c.serialNumber, c.path);
    if (!device.info)
        return line + QStringLiteral(": versions not read");
    const DeviceInfo& info = *device.info;
    return line
        + QStringLiteral(": MCU Firmware %1, DSP Firmware %2, Styles %3, Ensemble Audio %4")
              .arg(info.mcuVersion.displayText(), info.dspVersion.displayText(),
                  hexVersionText(info.stylesVersion), hexVersionText(info.ensembleVersion));
}

QString DiagnosticsReport::historyLine(const UpdateHistoryEntry& e)
{
    const QString before = VersionText::recordedBefore(e.component, e.versionBefore);
    const QString sent = VersionText::recordedSent(e.component, e.versionSent);
    return QStringLiteral("%1  %2 %3  %4  %5 -> %6  %7  %8")
        .arg(e.time.toString(Qt::ISODate), e.model, e.serial, e.component,
            before.isEmpty() ? QStringLiteral("-") : before, sent.isEmpty() ? QStringLiteral("-") : sent,
            UpdateHistoryEntry::outcomeText(e.outcome),
            // Records written before URLs were redacted may still carry a password or a token.
            DownloadReplies::displaySource(e.source));
}

QString DiagnosticsReport::build(
    const QList<DiagnosticsDevice>& devices, const UpdateHistory& history, const QString& devicesNote)
{
    QString text;
    QTextStream out(&text);
    out << "Pelk Updater diagnostics report\n"
        << "Created: " << QDateTime::currentDateTimeUtc().toString(Qt::ISODate) << "\n\n";

    out << "== Updater ==\n"
        << "Updater version: " << applicationVersionText << '\n'
        << "Operating system: " << QSysInfo::prettyProductName() << " (" << QSysInfo::kernelType() << ' '
        << QSysInfo::kernelVersion() << ", " << QSysInfo::currentCpuArchitecture() << ")\n"
        << "Qt version: " << qVersion() << " (built with " << QT_VERSION_STR << ")\n"
        << "Character type: " << QString::fromLocal8Bit(std::setlocale(LC_CTYPE, nullptr))
        << (CharacterLocale::isUtf8() ? " (UTF-8)" : " (not UTF-8: serial numbers outside ASCII read empty)")
        << '\n'
        << "HID backend: " << hidBackendText() << '\n'
        << "HID recording: " << hidRecordingText() << "\n\n";

    out << "== Update catalogue ==\n";
    const ConfigurationManager* configuration = ConfigurationManager::instance();
    out << "Manifest URL: "
        << DownloadReplies::displayUrl(
               configuration ? configuration->manifestUrl() : ConfigurationManager::storedManifestUrl())
        << '\n';
    CatalogueSignature::initialise();
    QString keyProblem;
    const QList<QByteArray> keys = CatalogueSignature::trustedKeys(&keyProblem);
    QStringList ids;
    for (const QByteArray& key : keys)
        ids.append(QString::fromLatin1(CatalogueSignature::keyId(key)));
    out << "Trusted catalogue keys (ids): "
        << (!keyProblem.isEmpty()  ? keyProblem
                   : ids.isEmpty() ? QStringLiteral("none; catalogues are not verified")
                                   : ids.join(QStringLiteral(", ")))
        << "\n\n";

    out << "== Connected devices ==\n";
    if (!devicesNote.isEmpty())
        out << devicesNote << '\n';
    else if (devices.isEmpty())
        out << "none\n";
    for (const DiagnosticsDevice& device : devices)
        out << deviceText(device) << '\n';
    out << '\n';

    const QList<UpdateHistoryEntry> entries = history.entries();
    out << "== Update history (most recent " << qMin(historyEntries, entries.size()) << " of "
        << entries.size() << ", newest first) ==\n";
    for (int i = entries.size() - 1; i >= 0 && i >= entries.size() - historyEntries; --i) {
        const UpdateHistoryEntry& e = entries.at(i);
        out << historyLine(e) << "  sha256 " << (e.sha256.isEmpty() ? QStringLiteral("-") : e.sha256) << '\n';
    }
    out << '\n';

    const QStringList lines = LogFile::lastLines(logLines);
    out << "== Log (last " << lines.size() << " lines) ==\n";
    for (const QString& line : lines)
        out << redactedLine(line) << '\n';
    out.flush();
    return text;
}

} // namespace PelkPlus
