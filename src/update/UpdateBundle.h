#pragma once

#include "update/ManifestData.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class QTemporaryDir;
struct archive;
struct archive_entry;

namespace PelkPlus {

// An update bundle: one tar file (optionally compressed) that holds the signed catalogue, as
// update-manifest.xml and update-manifest.xml.sig, and the file of every device component it
// lists, each at its URL's path ("http://host/pelk/plus/mcu.bin" is pelk/plus/mcu.bin). It lets an
// updater without network access install what the online catalogue would offer.
//
// A bundle comes from anywhere, so it is read as hostile: only plain files and folders below its
// root, no links, device files or repeated names, at most maximumEntries entries, no entry larger
// than the largest component, nothing cut short. Each file is written under a name of its own into
// a private folder (owner only), removed with the bundle, so that no name in the archive can
// reach a file elsewhere.
class UpdateBundle
{
public:
    static constexpr int maximumEntries = 64;
    // All the files together: both models' complete sets with room to spare.
    static constexpr qint64 maximumTotalSize = 256 * 1024 * 1024;
    static const char manifestName[];
    static const char signatureName[];

    UpdateBundle();
    ~UpdateBundle();
    UpdateBundle(const UpdateBundle&) = delete;
    UpdateBundle& operator=(const UpdateBundle&) = delete;

    // Reads the bundle at path, or held in data, into a new private folder; false, with a sentence
    // that says why, when it is refused. Whatever was read before is forgotten.
    bool open(const QString& path, QString* error);
    bool openData(const QByteArray& data, QString* error);

    QString path() const { return bundlePath; }
    QByteArray manifest() const { return manifestBytes; }
    // Empty when the bundle carries no signature.
    QByteArray signature() const { return signatureBytes; }
    bool hasSignature() const { return carriesSignature; }
    // The private folder the files were written to; empty before a successful open.
    QString folder() const;
    // The names of the files below the root, the catalogue's own two included.
    QStringList names() const;

    // Gives every device component of data its file from the bundle: localPath, size and the
    // digest checked (downloadedSha256), once the file has the size and the SHA-256 the catalogue
    // gives it and fits its type. False, naming the first component that does not, when the bundle
    // lacks a file or holds another one. An updater package is not carried and keeps its URL.
    bool attach(ManifestData* data, QString* error) const;

    // The name a component's file has in a bundle: its URL's path below the root.
    static QString entryName(const QUrl& url);

private:
    struct File
    {
        QString path;
        qint64 size = 0;
        QByteArray sha256;
    };

    bool read(struct archive* reader, QString* error);
    bool readEntry(
        struct archive* reader, struct archive_entry* entry, int index, qint64* total, QString* error);
    void clear();

    QString bundlePath;
    std::unique_ptr<QTemporaryDir> directory;
    QHash<QString, File> files;
    QByteArray manifestBytes;
    QByteArray signatureBytes;
    bool carriesSignature = false;
};

} // namespace PelkPlus
