#include "app/ApplicationPaths.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>

#if defined(Q_OS_UNIX)
#include <cerrno>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PelkPlus {

namespace {
const char lockFileName[] = "quellor_pelk_updater_single_instance_lock";
const char downloadSubdirectory[] = "Quellor/PelkUpdater";
const char cacheRuntimeName[] = "quellor-pelk-updater";

#if defined(Q_OS_UNIX)
// A directory we may trust: a real directory (not a link), ours, and closed to everybody else.
// Examined and tightened through one descriptor opened without following links, so the directory
// cannot be swapped for a link between the check and the change of its mode.
bool isPrivateDirectory(const QString& path, QString* error)
{
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (error) {
            *error = errno == ELOOP || errno == ENOTDIR
                ? QStringLiteral("%1 is not a directory of this user.").arg(path)
                : QStringLiteral("%1 cannot be examined.").arg(path);
        }
        return false;
    }
    struct stat status
    {
    };
    bool trusted = ::fstat(fd, &status) == 0;
    if (!trusted || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
        if (error)
            *error = QStringLiteral("%1 is not a directory of this user.").arg(path);
        trusted = false;
    } else if ((status.st_mode & 0077) != 0 && ::fchmod(fd, 0700) != 0) {
        if (error)
            *error = QStringLiteral("%1 is open to other users.").arg(path);
        trusted = false;
    }
    ::close(fd);
    return trusted;
}

// Creates the directory closed to others unless it exists, then checks it as above.
bool makePrivateDirectory(const QString& path, QString* error)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("%1 cannot be created.").arg(path);
        return false;
    }
    return isPrivateDirectory(path, error);
}
#endif
} // namespace

QString ApplicationPaths::privateTempPath()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Worked out once for each value of XDG_RUNTIME_DIR, so that a missing or foreign runtime
    // directory is reported once rather than at every use.
    static std::mutex lock;
    static bool resolved = false;
    static QByteArray resolvedFor;
    static QString path;
    std::lock_guard<std::mutex> guard(lock);
    const QByteArray variable = qgetenv("XDG_RUNTIME_DIR");
    if (!resolved || variable != resolvedFor) {
        path = resolvePrivateTempPath(variable);
        resolvedFor = variable;
        resolved = true;
    }
    return path;
#else
    // The temporary directory is the user's own on these systems.
    return QDir::tempPath();
#endif
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
QString ApplicationPaths::resolvePrivateTempPath(const QByteArray& runtimeVariable)
{
    // The framework's own answer would fall back to a directory in the shared /tmp, which another
    // account may have made first; the directory is checked here instead, as the downloads are.
    QString why = QStringLiteral("XDG_RUNTIME_DIR is not set");
    if (!runtimeVariable.isEmpty()) {
        const QString runtime = QFile::decodeName(runtimeVariable);
        QString error;
        if ((::mkdir(runtimeVariable.constData(), 0700) == 0 || errno == EEXIST)
            && isPrivateDirectory(runtime, &error))
            return runtime;
        why = error.isEmpty() ? QStringLiteral("%1 cannot be created").arg(runtime) : error;
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString fallback = cache + QLatin1Char('/') + QLatin1String(cacheRuntimeName);
    qWarning().noquote() << "ApplicationPaths: No private runtime directory (" + why + "); using" << fallback;
    QDir().mkpath(cache);
    QString error;
    if (!makePrivateDirectory(fallback, &error))
        qCritical().noquote() << "ApplicationPaths:" << error;
    return fallback;
}
#endif

QString ApplicationPaths::singleInstanceLockPath()
{
    return singleInstanceLockDirectory() + QLatin1Char('/') + QLatin1String(lockFileName);
}

QString ApplicationPaths::singleInstanceLockDirectory()
{
    // Set by the tests, which run side by side, each as if it were its own account.
    const QString isolated = qEnvironmentVariable("PELK_INSTANCE_LOCK_DIR");
    if (!isolated.isEmpty())
        return isolated;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The account's home as the system records it, not as the environment says: an ssh session,
    // sudo and cron see other XDG_RUNTIME_DIR and HOME values, but one account has one lock.
    if (const passwd* account = ::getpwuid(::geteuid())) {
        if (account->pw_dir && *account->pw_dir) {
            const QString home = QFile::decodeName(account->pw_dir);
            const QString cache = home + QStringLiteral("/.cache");
            const QString directory = cache + QLatin1Char('/') + QLatin1String(cacheRuntimeName);
            ::mkdir(QFile::encodeName(cache).constData(), 0700);
            QString error;
            if (makePrivateDirectory(directory, &error))
                return directory;
            qWarning().noquote() << "ApplicationPaths:" << error;
        }
    }
#endif
    // An account without a usable home (a service's): the private runtime directory.
    return privateTempPath();
}

QString ApplicationPaths::downloadDirectory()
{
    return privateTempPath() + QLatin1Char('/') + QLatin1String(downloadSubdirectory);
}

bool ApplicationPaths::ensureDownloadDirectory(QString* error)
{
    const QString path = downloadDirectory();
#if defined(Q_OS_UNIX)
    // Each level is created closed to others and checked, so a link planted at any level is refused.
    QString level = privateTempPath();
    for (const QString& part : QString::fromLatin1(downloadSubdirectory).split(QLatin1Char('/'))) {
        level += QLatin1Char('/') + part;
        if (!makePrivateDirectory(level, error))
            return false;
    }
    return true;
#else
    if (!QDir().mkpath(path)) {
        if (error)
            *error = QStringLiteral("%1 cannot be created.").arg(path);
        return false;
    }
    return true;
#endif
}

} // namespace PelkPlus
