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

    static QString singleInstanceLockPath();

    // "Quellor/PelkUpdater" below privateTempPath(); see ensureDownloadDirectory().
    static QString downloadDirectory();

    // Creates the download directory when needed and checks that it is a real directory owned by
    // this user and closed to others. False, with the reason in error, when it cannot be trusted.
    static bool ensureDownloadDirectory(QString* error = nullptr);

private:
    static QString resolvePrivateTempPath(const QByteArray& runtimeVariable);
};

} // namespace PelkPlus
