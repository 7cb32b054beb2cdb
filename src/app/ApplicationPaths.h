#pragma once

#include <QByteArray>
#include <QString>

namespace PelkPlus {

// Where the updater keeps its per-user run-time files. On systems whose temporary directory is
// shared by every account (Linux /tmp) they live in the user's private runtime directory instead,
// so that no other account can hold the lock or plant files among the downloads; without one
// (no XDG_RUNTIME_DIR, or one that is not the user's), in a directory of the user's cache closed
// to others. Never in the shared temporary directory.
class ApplicationPaths
{
public:
    // The directory that takes the place of the system temporary directory.
    static QString privateTempPath();

    // The lock lives in the account's own cache folder, found through the account database, so
    // that every session of an account (the desktop, ssh, sudo -u, cron) finds the same lock
    // whatever its environment; "quellor-pelk-updater" below the home's ".cache", created closed
    // to others. PELK_INSTANCE_LOCK_DIR, when set, names the folder instead (for tests).
    static QString singleInstanceLockPath();
    static QString singleInstanceLockDirectory();

    // "Quellor/PelkUpdater" below privateTempPath(); see ensureDownloadDirectory().
    static QString downloadDirectory();

    // Creates the download directory when needed and checks that it is a real directory owned by
    // this user and closed to others. False, with the reason in error, when it cannot be trusted.
    static bool ensureDownloadDirectory(QString* error = nullptr);

private:
    static QString resolvePrivateTempPath(const QByteArray& runtimeVariable);
};

} // namespace PelkPlus
