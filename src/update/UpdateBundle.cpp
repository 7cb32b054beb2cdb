#include "update/UpdateBundle.h"

#include "update/CatalogueSignature.h"
#include "update/Sha256.h"
#include "update/UpdateManifestParser.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

namespace PelkPlus {

const char UpdateBundle::manifestName[] = "update-manifest.xml";
const char UpdateBundle::signatureName[] = "update-manifest.xml.sig";

namespace {

constexpr int chunkSize = 64 * 1024;
// Names are shown in refusals; a name of any length is cut to this.
constexpr int shownNameLength = 120;

QString refusal(const QString& why)
{
    return QStringLiteral("The update bundle cannot be used: %1").arg(why);
}

QString shown(const QString& name)
{
    return name.size() > shownNameLength ? name.left(shownNameLength) + QStringLiteral("...") : name;
}

// The largest file any device component can be.
qint64 largestDeviceComponent()
{
    qint64 largest = 0;
    for (const ComponentType type : { ComponentType::McuFirmware, ComponentType::DspFirmware,
             ComponentType::Styles, ComponentType::EnsembleAudio })
        largest = std::max(largest, largestComponentSize(type));
    return largest;
}

bool isDeviceComponent(ComponentType type)
{
    return int(type) >= int(ComponentType::McuFirmware) && int(type) <= int(ComponentType::EnsembleAudio);
}

// The name below the bundle's root, with "." segments and repeated slashes dropped; false for a
// name that is absolute, climbs out with "..", or is written for another system's separators.
bool normalName(const QString& raw, QString* name)
{
    if (raw.isEmpty() || raw.startsWith(QLatin1Char('/')) || raw.contains(QLatin1Char('\\'))
        || raw.contains(QLatin1Char(':')))
        return false;
    QStringList kept;
    for (const QString& segment : raw.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String(".."))
            return false;
        if (segment != QLatin1String("."))
            kept.append(segment);
    }
    *name = kept.join(QLatin1Char('/'));
    return true;
}

struct ArchiveReader
{
    ArchiveReader()
        : handle(archive_read_new())
    {
        // A tar alone (ustar, pax, gnu), compressed or not.
        archive_read_support_format_tar(handle);
        archive_read_support_filter_all(handle);
    }
    ~ArchiveReader() { archive_read_free(handle); }
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    struct archive* handle;
};

QString archiveError(struct archive* reader)
{
    const char* text = archive_error_string(reader);
    return text ? QStringLiteral(" (%1)").arg(QString::fromUtf8(text)) : QString();
}

} // namespace

UpdateBundle::UpdateBundle() = default;
UpdateBundle::~UpdateBundle() = default;

QString UpdateBundle::folder() const
{
    return directory ? directory->path() : QString();
}

QStringList UpdateBundle::names() const
{
    QStringList all = files.keys();
    all.sort();
    return all;
}

QString UpdateBundle::entryName(const QUrl& url)
{
    QString name;
    const QString path = url.path();
    return path.startsWith(QLatin1Char('/')) && normalName(path.mid(1), &name) ? name : QString();
}

void UpdateBundle::clear()
{
    files.clear();
    manifestBytes.clear();
    signatureBytes.clear();
    carriesSignature = false;
    directory.reset();
}

bool UpdateBundle::open(const QString& path, QString* error)
{
    clear();
    bundlePath = path;
    ArchiveReader reader;
    if (archive_read_open_filename(reader.handle, QFile::encodeName(path).constData(), chunkSize)
        != ARCHIVE_OK) {
        *error = refusal(QStringLiteral("it is not an update bundle, or it is cut short or damaged%1.")
                             .arg(archiveError(reader.handle)));
        return false;
    }
    return read(reader.handle, error);
}

bool UpdateBundle::openData(const QByteArray& data, QString* error)
{
    clear();
    bundlePath.clear();
    ArchiveReader reader;
    if (archive_read_open_memory(reader.handle, data.constData(), size_t(data.size())) != ARCHIVE_OK) {
        *error = refusal(QStringLiteral("it is not an update bundle, or it is cut short or damaged%1.")
                             .arg(archiveError(reader.handle)));
        return false;
    }
    return read(reader.handle, error);
}

bool UpdateBundle::read(struct archive* reader, QString* error)
{
    directory = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/pelk-bundle-XXXXXX"));
    if (!directory->isValid()
        || !QFile::setPermissions(
            directory->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        *error = refusal(QStringLiteral("no private folder can be made for its files in %1.")
                             .arg(QDir::toNativeSeparators(QDir::tempPath())));
        clear();
        return false;
    }

    qint64 total = 0;
    for (int index = 0;; ++index) {
        struct archive_entry* entry = nullptr;
        const int result = archive_read_next_header(reader, &entry);
        if (result == ARCHIVE_EOF)
            break;
        if (result < ARCHIVE_WARN) {
            *error = index == 0
                ? refusal(QStringLiteral("it is not an update bundle%1.").arg(archiveError(reader)))
                : refusal(QStringLiteral("it is cut short or damaged%1.").arg(archiveError(reader)));
            clear();
            return false;
        }
        if (index >= maximumEntries) {
            *error = refusal(QStringLiteral("it holds more than %1 entries.").arg(maximumEntries));
            clear();
            return false;
        }
        if (!readEntry(reader, entry, index, &total, error)) {
            clear();
            return false;
        }
    }
    if (!files.contains(QLatin1String(manifestName))) {
        *error
            = refusal(QStringLiteral("it holds no update catalogue (%1).").arg(QLatin1String(manifestName)));
        clear();
        return false;
    }
    qDebug().noquote() << "UpdateBundle: Read" << files.size() << "files into" << directory->path();
    return true;
}

bool UpdateBundle::readEntry(
    struct archive* reader, struct archive_entry* entry, int index, qint64* total, QString* error)
{
    const char* utf8 = archive_entry_pathname_utf8(entry);
    const char* raw = utf8 ? utf8 : archive_entry_pathname(entry);
    const QString rawName = raw ? QString::fromUtf8(raw) : QString();
    QString name;
    if (!normalName(rawName, &name)) {
        *error = refusal(QStringLiteral("it holds an entry outside its folder (%1).").arg(shown(rawName)));
        return false;
    }
    const auto type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) || type == AE_IFLNK) {
        *error = refusal(QStringLiteral("it holds a link (%1).").arg(shown(rawName)));
        return false;
    }
    if (type == AE_IFDIR)
        return archive_read_data_skip(reader) == ARCHIVE_OK;
    if (type != AE_IFREG || name.isEmpty()) {
        *error = refusal(
            QStringLiteral("it holds a device file or another special file (%1).").arg(shown(rawName)));
        return false;
    }
    if (files.contains(name)) {
        *error = refusal(QStringLiteral("it holds %1 twice.").arg(shown(name)));
        return false;
    }

    const bool isManifest = name == QLatin1String(manifestName);
    const bool isSignature = name == QLatin1String(signatureName);
    const qint64 limit = isManifest ? UpdateManifestParser::maximumManifestSize
        : isSignature               ? CatalogueSignature::maximumFileSize
                                    : largestDeviceComponent();
    const auto tooLarge = [&] {
        *error = refusal(QStringLiteral("%1 is larger than the updater takes (%2 bytes at most).")
                             .arg(shown(name))
                             .arg(limit));
        return false;
    };
    // What the header says is checked first, what arrives as it arrives: a header may lie.
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limit)
        return tooLarge();

    File file;
    file.path = directory->filePath(QStringLiteral("entry-%1").arg(index));
    QFile out(file.path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = refusal(QStringLiteral("its files cannot be written to %1.").arg(directory->path()));
        return false;
    }
    Sha256 digest;
    QByteArray kept;
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    for (;;) {
        const la_ssize_t got = archive_read_data(reader, chunk.data(), size_t(chunk.size()));
        if (got == 0)
            break;
        if (got < 0) {
            *error = refusal(QStringLiteral("it is cut short or damaged%1.").arg(archiveError(reader)));
            return false;
        }
        file.size += got;
        *total += got;
        if (file.size > limit)
            return tooLarge();
        if (*total > maximumTotalSize) {
            *error = refusal(QStringLiteral("its files are larger than %1 MB together.")
                                 .arg(maximumTotalSize / (1024 * 1024)));
            return false;
        }
        const QByteArray data = QByteArray::fromRawData(chunk.constData(), int(got));
        digest.addData(data);
        if (out.write(data) != got) {
            *error = refusal(QStringLiteral("its files cannot be written to %1.").arg(directory->path()));
            return false;
        }
        if (isManifest || isSignature)
            kept.append(data);
    }
    if (!out.flush()) {
        *error = refusal(QStringLiteral("its files cannot be written to %1.").arg(directory->path()));
        return false;
    }
    file.sha256 = digest.result();
    if (isManifest)
        manifestBytes = kept;
    if (isSignature) {
        signatureBytes = kept;
        carriesSignature = true;
    }
    files.insert(name, file);
    return true;
}

bool UpdateBundle::attach(ManifestData* data, QString* error) const
{
    for (auto it = data->begin(); it != data->end(); ++it) {
        for (Component& component : it.value()) {
            if (!isDeviceComponent(component.type))
                continue;
            const QString described
                = QStringLiteral("%1 %2").arg(componentTypeName(component.type), component.version);
            const QString name = entryName(component.url);
            const auto found = files.constFind(name);
            if (name.isEmpty() || found == files.constEnd() || name == QLatin1String(manifestName)
                || name == QLatin1String(signatureName)) {
                *error = refusal(
                    QStringLiteral("the catalogue lists %1, but the bundle does not hold its file (%2).")
                        .arg(described, shown(name.isEmpty() ? component.url.path() : name)));
                return false;
            }
            const File& file = found.value();
            if (file.size == 0 || file.size > largestComponentSize(component.type)
                || (component.catalogueSize > 0 && file.size != component.catalogueSize)) {
                *error = refusal(QStringLiteral("the file of %1 (%2) has %3 bytes, which is not the size the "
                                                "catalogue gives.")
                                     .arg(described, shown(name))
                                     .arg(file.size));
                return false;
            }
            if (!component.sha256.isEmpty() && file.sha256 != component.sha256) {
                *error = refusal(QStringLiteral("the file of %1 (%2) is not the one the catalogue describes.")
                                     .arg(described, shown(name)));
                return false;
            }
            component.localPath = file.path;
            component.size = file.size;
            component.downloadedSha256 = file.sha256;
        }
    }
    return true;
}

} // namespace PelkPlus
