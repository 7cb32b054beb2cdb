#include "app/UpdateHistory.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace PelkPlus {

namespace {
const char historyFileName[] = "update-history.jsonl";
// Far above maximumEntries lines of any entry this updater writes.
constexpr qint64 maximumFileSize = 8 * 1024 * 1024;

const char* const outcomeTexts[] = {
    "verified",
    "not applied",
    "download failed",
    "install failed",
    "device lost",
    "interrupted by quitting",
    "installed, not verified",
    "interrupted",
    "finished later",
};

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

void setAside(const QString& path, const char* why)
{
    const QString aside = path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
    const bool renamed = QFile::rename(path, aside);
    qCritical().noquote() << "UpdateHistory:" << why << "Set aside as" << (renamed ? aside : QString())
                          << (renamed ? "" : "(could not be renamed; it will be replaced)");
}
} // namespace

QString UpdateHistoryEntry::outcomeText(Outcome outcome)
{
    return QString::fromLatin1(outcomeTexts[outcome]);
}

QJsonObject UpdateHistoryEntry::toJson() const
{
    return QJsonObject {
        { key("time"), time.toUTC().toString(Qt::ISODate) },
        { key("model"), model },
        { key("serial"), serial },
        { key("component"), component },
        { key("versionBefore"), versionBefore },
        { key("versionSent"), versionSent },
        { key("source"), source },
        { key("sha256"), sha256 },
        { key("outcome"), outcomeText(outcome) },
    };
}

bool UpdateHistoryEntry::fromJson(const QJsonObject& object, UpdateHistoryEntry* entry)
{
    const char* const textKeys[] = { "time", "model", "serial", "component", "versionBefore", "versionSent",
        "source", "sha256", "outcome" };
    for (const char* name : textKeys) {
        if (!object.value(key(name)).isString())
            return false;
    }
    entry->time = QDateTime::fromString(object.value(key("time")).toString(), Qt::ISODate);
    if (!entry->time.isValid())
        return false;
    entry->time = entry->time.toUTC();
    entry->model = object.value(key("model")).toString();
    entry->serial = object.value(key("serial")).toString();
    entry->component = object.value(key("component")).toString();
    entry->versionBefore = object.value(key("versionBefore")).toString();
    entry->versionSent = object.value(key("versionSent")).toString();
    entry->source = object.value(key("source")).toString();
    entry->sha256 = object.value(key("sha256")).toString();
    const QString outcome = object.value(key("outcome")).toString();
    for (int i = Verified; i <= FinishedLater; ++i) {
        if (outcome == QLatin1String(outcomeTexts[i])) {
            entry->outcome = static_cast<Outcome>(i);
            return true;
        }
    }
    return false;
}

UpdateHistory::UpdateHistory()
    : filePath(defaultPath())
{ }

UpdateHistory::UpdateHistory(const QString& path)
    : filePath(path)
{ }

QString UpdateHistory::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/')
        + QLatin1String(historyFileName);
}

QList<UpdateHistoryEntry> UpdateHistory::entries() const
{
    QList<UpdateHistoryEntry> entries;
    QFile file(filePath);
    if (!file.exists())
        return entries;
    if (file.size() > maximumFileSize) {
        setAside(filePath, "History file too large.");
        return entries;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        setAside(filePath, "History file unreadable.");
        return entries;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    for (const QByteArray& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error {};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        UpdateHistoryEntry entry;
        if (error.error != QJsonParseError::NoError || !document.isObject()
            || !UpdateHistoryEntry::fromJson(document.object(), &entry)) {
            setAside(filePath, "History file damaged.");
            return {};
        }
        entries.append(entry);
    }
    return entries;
}

bool UpdateHistory::append(const UpdateHistoryEntry& entry)
{
    QList<UpdateHistoryEntry> all = entries();
    all.append(entry);
    if (all.size() > maximumEntries)
        all = all.mid(all.size() - maximumEntries);

    const QString directory = QFileInfo(filePath).absolutePath();
    if (!QDir().mkpath(directory)) {
        qCritical() << "UpdateHistory: Failed to create" << directory;
        return false;
    }
    QFile::setPermissions(
        directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical() << "UpdateHistory: Failed to write" << filePath << file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const UpdateHistoryEntry& each : qAsConst(all)) {
        file.write(QJsonDocument(each.toJson()).toJson(QJsonDocument::Compact));
        file.write("\n");
    }
    if (!file.commit()) {
        qCritical() << "UpdateHistory: Failed to write" << filePath << file.errorString();
        return false;
    }
    return true;
}

} // namespace PelkPlus
