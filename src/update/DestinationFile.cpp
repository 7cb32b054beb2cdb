#include "update/DestinationFile.h"

#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PelkPlus {

namespace {

bool openOwnerOnly(QFile* file, const QString& path)
{
    // Unbuffered, so that a write that does not reach the disk is reported by the write itself.
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
#if defined(Q_OS_UNIX)
    // Owner-only from its first byte: a file opened anew keeps the permissions it had, so an old
    // file is replaced by one created 0600. A link is never followed out of the directory; a device
    // (a test's full disk) is written as it is.
    const QByteArray native = QFile::encodeName(path);
    struct stat status;
    int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
    if (::lstat(native.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && ::unlink(native.constData()) != 0)
        return false;
    if (::lstat(native.constData(), &status) != 0)
        flags |= O_CREAT | O_EXCL;
    else
        flags |= O_TRUNC;
    const int fd = ::open(native.constData(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    if (!file->open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    Q_UNUSED(path)
    if (!file->open(mode))
        return false;
    file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
#endif
}

} // namespace

DestinationFile::DestinationFile() = default;

DestinationFile::~DestinationFile() = default;

bool DestinationFile::open(const QString& path)
{
    release();
    filePath = path;
    bytesWritten = 0;
    hash.reset();
    file = std::make_unique<QFile>(path);
    if (openOwnerOnly(file.get(), path))
        return true;
    release();
    return false;
}

bool DestinationFile::write(const QByteArray& data)
{
    if (file->write(data) != data.size())
        return false;
    hash.addData(data);
    bytesWritten += data.size();
    return true;
}

QString DestinationFile::errorString() const
{
    return file ? file->errorString() : QString();
}

void DestinationFile::truncate()
{
    file->resize(0);
    file->seek(0);
    bytesWritten = 0;
    hash.reset();
}

bool DestinationFile::close()
{
    file->close();
    return file->error() == QFileDevice::NoError;
}

void DestinationFile::remove()
{
    if (!file)
        return;
    file->close();
    if (!filePath.isEmpty() && QFileInfo(filePath).isFile() && !QFileInfo(filePath).isSymLink())
        QFile::remove(filePath);
}

void DestinationFile::release()
{
    file.reset();
}

} // namespace PelkPlus
