#pragma once

#include "update/Sha256.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

namespace PelkPlus {

// The local file a download writes: owner-only from its first byte, never reached through a link,
// written unbuffered so that a write that does not reach the disk says so itself, and digested as
// its bytes are written. What it holds is not the file until the download completes, so a failed
// download removes it.
class DestinationFile
{
public:
    DestinationFile();
    ~DestinationFile();

    // Opens path for writing, replacing a regular file that is there; false when it cannot be,
    // and then nothing is held.
    bool open(const QString& path);
    // A file is held from open until release.
    bool isHeld() const { return file != nullptr; }
    // Writes data and adds it to the digest; false when not all of it was written.
    bool write(const QByteArray& data);
    // The bytes written since open or the last truncate.
    qint64 size() const { return bytesWritten; }
    QString errorString() const;
    // Drops everything written: the download starts over.
    void truncate();
    // The SHA-256 of the bytes written.
    QByteArray digest() const { return hash.result(); }
    // False when what was written did not all reach the file.
    bool close();
    // Removes what was written. Only a file of the download's own: never a device written to, nor a
    // link. A destination that could not be opened is left as it was.
    void remove();
    void release();

private:
    Q_DISABLE_COPY(DestinationFile)

    std::unique_ptr<QFile> file;
    // A file opened from its descriptor has no name of its own, so it is removed by this one.
    QString filePath;
    Sha256 hash;
    qint64 bytesWritten = 0;
};

} // namespace PelkPlus
