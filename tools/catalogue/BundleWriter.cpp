#include "BundleWriter.h"

#include "update/UpdateBundle.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <archive.h>
#include <archive_entry.h>

namespace PelkPlus {

namespace {

constexpr int chunkSize = 64 * 1024;

struct ArchiveWriter
{
    ArchiveWriter()
        : handle(archive_write_new())
    { }
    ~ArchiveWriter() { archive_write_free(handle); }
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    struct archive* handle;
};

struct EntryHeader
{
    explicit EntryHeader(const QString& name, qint64 size)
        : handle(archive_entry_new())
    {
        archive_entry_set_pathname_utf8(handle, name.toUtf8().constData());
        archive_entry_set_filetype(handle, AE_IFREG);
        archive_entry_set_perm(handle, 0644);
        archive_entry_set_size(handle, size);
        archive_entry_set_mtime(handle, QDateTime::currentSecsSinceEpoch(), 0);
    }
    ~EntryHeader() { archive_entry_free(handle); }
    EntryHeader(const EntryHeader&) = delete;
    EntryHeader& operator=(const EntryHeader&) = delete;

    struct archive_entry* handle;
};

QString archiveError(struct archive* writer)
{
    const char* text = archive_error_string(writer);
    return text ? QString::fromUtf8(text) : QStringLiteral("unknown error");
}

bool addBytes(struct archive* writer, const QString& name, const QByteArray& bytes, QString* error)
{
    EntryHeader header(name, bytes.size());
    if (archive_write_header(writer, header.handle) != ARCHIVE_OK
        || archive_write_data(writer, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
        *error = QStringLiteral("%1 cannot be added to the bundle: %2").arg(name, archiveError(writer));
        return false;
    }
    return true;
}

bool addFile(struct archive* writer, const QString& name, const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    EntryHeader header(name, file.size());
    if (archive_write_header(writer, header.handle) != ARCHIVE_OK) {
        *error = QStringLiteral("%1 cannot be added to the bundle: %2").arg(name, archiveError(writer));
        return false;
    }
    qint64 written = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty()
            || archive_write_data(writer, chunk.constData(), size_t(chunk.size())) != chunk.size()) {
            *error = QStringLiteral("%1 cannot be added to the bundle: %2").arg(name, archiveError(writer));
            return false;
        }
        written += chunk.size();
    }
    // A file that changed since it was digested would not match the catalogue.
    if (written != file.size()) {
        *error = QStringLiteral("%1 changed while it was added to the bundle").arg(path);
        return false;
    }
    return true;
}

} // namespace

bool BundleWriter::write(const QString& path, const QByteArray& manifest, const QByteArray& signature,
    const QList<CatalogueEntry>& entries, QString* error)
{
    // The names an updater reads the bundle by: each once, none the catalogue's own. One file
    // listed for both models is one URL, and goes in once.
    QHash<QString, QString> files { { QLatin1String(UpdateBundle::manifestName), QString() },
        { QLatin1String(UpdateBundle::signatureName), QString() } };
    QList<const CatalogueEntry*> carried;
    for (const CatalogueEntry& entry : entries) {
        const QString name = UpdateBundle::entryName(entry.url);
        if (int(entry.type) > int(ComponentType::EnsembleAudio))
            continue;
        const QString file = QFileInfo(entry.filePath).canonicalFilePath();
        if (name.isEmpty() || (files.contains(name) && files.value(name) != file)) {
            *error
                = QStringLiteral("%1 cannot be put into a bundle under its URL's path").arg(entry.filePath);
            return false;
        }
        if (!files.contains(name))
            carried.append(&entry);
        files.insert(name, file);
    }
    if (files.size() > UpdateBundle::maximumEntries) {
        *error = QStringLiteral("a bundle holds at most %1 files").arg(UpdateBundle::maximumEntries);
        return false;
    }
    const QString part = path + QStringLiteral(".part");
    QFile::remove(part);
    {
        ArchiveWriter writer;
        archive_write_set_format_pax_restricted(writer.handle);
        if (path.endsWith(QLatin1String(".gz")) || path.endsWith(QLatin1String(".tgz")))
            archive_write_add_filter_gzip(writer.handle);
        if (archive_write_open_filename(writer.handle, QFile::encodeName(part).constData()) != ARCHIVE_OK) {
            *error = QStringLiteral("%1 cannot be written: %2").arg(part, archiveError(writer.handle));
            return false;
        }
        bool ok = addBytes(writer.handle, QLatin1String(UpdateBundle::manifestName), manifest, error)
            && (signature.isEmpty()
                || addBytes(writer.handle, QLatin1String(UpdateBundle::signatureName), signature, error));
        for (const CatalogueEntry* entry : qAsConst(carried)) {
            if (!ok)
                break;
            ok = addFile(writer.handle, UpdateBundle::entryName(entry->url), entry->filePath, error);
        }
        if (ok && archive_write_close(writer.handle) != ARCHIVE_OK) {
            *error = QStringLiteral("%1 cannot be written: %2").arg(part, archiveError(writer.handle));
            ok = false;
        }
        if (!ok) {
            QFile::remove(part);
            return false;
        }
    }
    QFile::remove(path);
    if (!QFile::rename(part, path)) {
        *error = QStringLiteral("%1 cannot be moved to %2").arg(part, path);
        QFile::remove(part);
        return false;
    }
    return true;
}

} // namespace PelkPlus
