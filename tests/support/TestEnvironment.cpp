#include "support/TestEnvironment.h"

#include "update/DownloadAgent.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace PelkPlus {

TestEnvironment::TestEnvironment()
    : rootDir(QDir::tempPath() + QStringLiteral("/pelk-test-XXXXXX"))
{
    const QString root = rootDir.path();
    for (const char* sub : { "config", "runtime", "tmp", "data", "cache" }) {
        QDir(root).mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(root + QLatin1Char('/') + QLatin1String(sub),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + QStringLiteral("/runtime")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    qputenv("TMPDIR", QFile::encodeName(root + QStringLiteral("/tmp")));
#if defined(Q_OS_WIN)
    // Windows keeps the settings in the registry, one key for every test and the user's own
    // updater: each test writes a settings file of its own instead.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root + QStringLiteral("/config"));
    // And its temporary folder, where the downloads go, from these two.
    qputenv("TMP", QFile::encodeName(QDir::toNativeSeparators(root + QStringLiteral("/tmp"))));
    qputenv("TEMP", QFile::encodeName(QDir::toNativeSeparators(root + QStringLiteral("/tmp"))));
#endif
    // The machine's own services stay out of the tests, the computer's power above all: a
    // developer's laptop on a low battery must not change what an update does.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
        QFile::encodeName(QStringLiteral("unix:path=") + root + QStringLiteral("/no-system-bus")));
    // Nor is the desktop asked to keep a developer's session awake.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
        QFile::encodeName(QStringLiteral("unix:path=") + root + QStringLiteral("/no-session-bus")));
    // Each test its own single-instance lock, as each account has one.
    qputenv("PELK_INSTANCE_LOCK_DIR", QFile::encodeName(root + QStringLiteral("/runtime")));
    // Failed requests are still tried again, only without the pauses a user's network deserves.
    DownloadAgent::setDefaultRetryPause(retryPause);
}

bool TestEnvironment::everyTestRequired()
{
    const QByteArray ci = qgetenv("CI");
    return !ci.isEmpty() && ci != "0" && ci != "false";
}

} // namespace PelkPlus
