#include "workflow/UpdateJournal.h"

#include "device/DeviceModel.h"
#include "update/Sha256.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

namespace PelkPlus {

namespace {

const char journalFileName[] = "update-journal.json";
const char keptFolderName[] = "kept-files";
// The mark of a journal this updater wrote, and the form it wrote it in.
const char journalFormat[] = "pelk-update-journal-1";

constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerOnlyFolder
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions openToOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

// Whether other accounts of this computer may read or change the file. On Windows the profile's
// access list keeps the data folder private, and the mode bits reported there say nothing of it
// (every file reads as open to all): the journal would be set aside each time it is read.
bool openToOtherAccounts(const QFileInfo& info)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(info);
    return false;
#else
    return info.permissions() & openToOthers;
#endif
}

const UpdateJournal::Step allSteps[] = { UpdateJournal::Step::Downloaded, UpdateJournal::Step::Sending,
    UpdateJournal::Step::AwaitingReboot, UpdateJournal::Step::Done };

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

void setAside(const QString& path, const char* why)
{
    const QString aside = path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
    const bool renamed = QFile::rename(path, aside);
    if (!renamed)
        QFile::remove(path);
    qCritical().noquote() << "UpdateJournal:" << why << (renamed ? QStringLiteral("Set aside as") : QString())
                          << (renamed ? aside : QStringLiteral("It could not be set aside and was removed."));
}

// A name that stays inside the kept folder.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// Copies source to destination, owner-only, and gives the digest of what was written; empty, with
// the reason in error, when it fails.
QByteArray copyDigested(const QString& source, const QString& destination, QString* error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return {};
    }
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return {};
    }
    out.setPermissions(ownerOnlyFile);
    Sha256 hash;
    while (!in.atEnd()) {
        const QByteArray block = in.read(1024 * 1024);
        if (block.isEmpty() && in.error() != QFileDevice::NoError) {
            *error = in.errorString();
            out.cancelWriting();
            return {};
        }
        hash.addData(block);
        if (out.write(block) != block.size()) {
            *error = out.errorString();
            out.cancelWriting();
            return {};
        }
    }
    if (!out.commit()) {
        *error = out.errorString();
        return {};
    }
    return hash.result();
}

void removeKeptFolder(const QString& folder)
{
    const QFileInfo info(folder);
    // A link in its place is removed, never followed.
    if (info.isSymLink() || info.isFile())
        QFile::remove(folder);
    else if (info.isDir())
        QDir(folder).removeRecursively();
}

} // namespace

QString UpdateJournal::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/')
        + QLatin1String(journalFileName);
}

QString UpdateJournal::keptFilesDirectory(const QString& journalPath)
{
    return QFileInfo(journalPath).absolutePath() + QLatin1Char('/') + QLatin1String(keptFolderName);
}

UpdateJournal UpdateJournal::forPlan(const Connection& device, const QList<Component>& plan)
{
    UpdateJournal journal;
    journal.model = device.model;
    journal.serial = device.serialNumber;
    journal.path = device.portPath.isEmpty() ? device.path : device.portPath;
    for (const Component& component : plan)
        journal.components.append(
            { component.type, component.version, QString(), component.downloadedSha256 });
    journal.time = QDateTime::currentDateTimeUtc();
    return journal;
}

bool UpdateJournal::keepFiles(const QList<Component>& plan, const QString& journalPath, QString* error)
{
    const QString folder = keptFilesDirectory(journalPath);
    // What an earlier journal kept is of an update this one replaces.
    removeKeptFolder(folder);
    if (!QDir().mkpath(folder) || !QFile::setPermissions(folder, ownerOnlyFolder)) {
        *error = QStringLiteral("The folder %1 cannot be made.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    QSet<QString> names;
    for (int i = 0; i < plan.size() && i < components.size(); ++i) {
        const Component& component = plan.at(i);
        QString name = QFileInfo(component.localPath).fileName();
        if (!isPlainFileName(name))
            name = componentTypeName(component.type);
        // Two entries of one type (a forced reinstall) each keep their own file.
        if (names.contains(name))
            name += QStringLiteral(" %1").arg(i + 1);
        names.insert(name);

        QString reason;
        const QByteArray digest
            = copyDigested(component.localPath, folder + QLatin1Char('/') + name, &reason);
        if (digest.isEmpty()) {
            *error = QStringLiteral("The %1 file cannot be kept: %2")
                         .arg(componentTypeName(component.type), reason);
            return false;
        }
        if (!component.downloadedSha256.isEmpty() && digest != component.downloadedSha256) {
            *error = QStringLiteral("The %1 file changed after it was verified.")
                         .arg(componentTypeName(component.type));
            return false;
        }
        components[i].file = name;
        components[i].sha256 = digest;
    }
    return true;
}

bool UpdateJournal::write(const QString& journalPath, QString* error) const
{
    QString reason;
    const QString folder = QFileInfo(journalPath).absolutePath();
    if (!QDir().mkpath(folder)) {
        reason = QStringLiteral("The folder %1 cannot be made.").arg(QDir::toNativeSeparators(folder));
    } else {
        QSaveFile file(journalPath);
        if (file.open(QIODevice::WriteOnly)) {
            // A journal found open to others is not carried over as it is.
            file.setPermissions(ownerOnlyFile);
            file.write(QJsonDocument(toJson()).toJson(QJsonDocument::Indented));
            // commit() syncs the temporary file to disk before it takes the journal's name, so a
            // power loss leaves the old journal or the new one.
            if (file.flush() && file.commit())
                return true;
        }
        reason = file.errorString();
    }
    qCritical().noquote() << "UpdateJournal: Failed to write" << journalPath << reason;
    if (error)
        *error = reason;
    return false;
}

std::optional<UpdateJournal> UpdateJournal::read(const QString& journalPath)
{
    const QFileInfo info(journalPath);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    if (info.isSymLink() || !info.isFile()) {
        setAside(journalPath, "The journal is not a plain file.");
        return std::nullopt;
    }
    if (info.size() > maximumFileSize) {
        setAside(journalPath, "The journal is too large.");
        return std::nullopt;
    }
    if (openToOtherAccounts(info)) {
        setAside(journalPath, "The journal is open to other accounts.");
        return std::nullopt;
    }
    QFile file(journalPath);
    if (!file.open(QIODevice::ReadOnly)) {
        setAside(journalPath, "The journal cannot be read.");
        return std::nullopt;
    }
    QJsonParseError parsed {};
    const QJsonDocument document = QJsonDocument::fromJson(file.read(maximumFileSize + 1), &parsed);
    file.close();
    UpdateJournal journal;
    if (parsed.error != QJsonParseError::NoError || !document.isObject()
        || !fromJson(document.object(), &journal)) {
        setAside(journalPath, "The journal is damaged or not one this updater wrote.");
        return std::nullopt;
    }
    return journal;
}

void UpdateJournal::remove(const QString& journalPath)
{
    QFile::remove(journalPath);
    removeKeptFolder(keptFilesDirectory(journalPath));
}

bool UpdateJournal::isFor(const Connection& connection) const
{
    if (connection.model != model || connection.serialNumber != serial)
        return false;
    // With no serial number to tell two devices of a model apart, the USB port does: a device on
    // another port is another device, whose versions the journal knows nothing of. Where the port
    // is not known (the journal then holds the node, which changes at a replug), any will do.
    return !serial.isEmpty() || connection.portPath.isEmpty() || connection.portPath == path;
}

const UpdateJournal::Entry* UpdateJournal::currentEntry() const
{
    return current >= 0 && current < components.size() ? &components.at(current) : nullptr;
}

namespace {

// "during Styles on 8 December at 14:03", in local time.
QString whenStopped(const UpdateJournal& journal)
{
    const UpdateJournal::Entry* entry = journal.currentEntry();
    const QLocale english(QLocale::English, QLocale::UnitedKingdom);
    const QDateTime local = journal.time.toLocalTime();
    return QStringLiteral("during %1 on %2 at %3")
        .arg(entry ? componentTypeName(entry->type) : QString(),
            english.toString(local, QStringLiteral("d MMMM")),
            english.toString(local, QStringLiteral("HH:mm")));
}

} // namespace

QString UpdateJournal::stoppedText() const
{
    return QStringLiteral("The last update of this %1 stopped %2.")
        .arg(QLatin1String(modelName(model)), whenStopped(*this));
}

QString UpdateJournal::finishingText() const
{
    return QStringLiteral("Finishing the update that stopped %1.").arg(whenStopped(*this));
}

const char* UpdateJournal::stepName(Step step)
{
    switch (step) {
    case Step::Downloaded:
        return "downloaded";
    case Step::Sending:
        return "sending";
    case Step::AwaitingReboot:
        return "awaiting reboot";
    case Step::Done:
        return "done";
    }
    return "done";
}

QJsonObject UpdateJournal::toJson() const
{
    QJsonArray plan;
    for (const Entry& entry : components) {
        plan.append(QJsonObject { { key("type"), int(entry.type) },
            { key("component"), componentTypeName(entry.type) }, { key("version"), entry.version },
            { key("file"), entry.file }, { key("sha256"), QString::fromLatin1(entry.sha256.toHex()) } });
    }
    return QJsonObject {
        { key("format"), key(journalFormat) },
        { key("device"),
            QJsonObject { { key("model"), QLatin1String(modelName(model)) }, { key("serial"), serial },
                { key("path"), path } } },
        { key("plan"), plan },
        { key("current"), current },
        { key("step"), QLatin1String(stepName(step)) },
        { key("time"), time.toUTC().toString(Qt::ISODate) },
    };
}

bool UpdateJournal::fromJson(const QJsonObject& object, UpdateJournal* journal)
{
    if (object.value(key("format")).toString() != QLatin1String(journalFormat))
        return false;
    const QJsonObject device = object.value(key("device")).toObject();
    const QString modelText = device.value(key("model")).toString();
    if (modelText == QLatin1String(modelName(Base)))
        journal->model = Base;
    else if (modelText == QLatin1String(modelName(Plus)))
        journal->model = Plus;
    else
        return false;
    if (!device.value(key("serial")).isString() || !device.value(key("path")).isString())
        return false;
    journal->serial = device.value(key("serial")).toString();
    journal->path = device.value(key("path")).toString();

    const QJsonArray plan = object.value(key("plan")).toArray();
    if (plan.isEmpty() || plan.size() > 16)
        return false;
    journal->components.clear();
    for (const QJsonValue& value : plan) {
        const QJsonObject entry = value.toObject();
        const int type = entry.value(key("type")).toInt(-1);
        const QByteArray digest = QByteArray::fromHex(entry.value(key("sha256")).toString().toLatin1());
        const QString file = entry.value(key("file")).toString();
        if (type < int(ComponentType::McuFirmware) || type > int(ComponentType::EnsembleAudio)
            || digest.size() != 32 || !isPlainFileName(file) || !entry.value(key("version")).isString())
            return false;
        journal->components.append(
            { ComponentType(type), entry.value(key("version")).toString(), file, digest });
    }

    journal->current = object.value(key("current")).toInt(-1);
    if (journal->current < 0 || journal->current >= journal->components.size())
        return false;
    const QString stepText = object.value(key("step")).toString();
    bool known = false;
    for (Step step : allSteps) {
        if (stepText == QLatin1String(stepName(step))) {
            journal->step = step;
            known = true;
        }
    }
    journal->time = QDateTime::fromString(object.value(key("time")).toString(), Qt::ISODate);
    return known && journal->time.isValid();
}

} // namespace PelkPlus
