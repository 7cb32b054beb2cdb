#include "app/ApplicationPaths.h"

#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

using PelkPlus::ApplicationPaths;

class tst_ApplicationPaths : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void downloadDirectoryIsPrivate();
    void createsEachLevelClosed();
    void refusesPlantedLink_data();
    void refusesPlantedLink();
    void tightensOpenDirectory_data();
    void tightensOpenDirectory();
    void refusesForeignDirectory();
    void refusesFileInThePath();
    void withoutRuntimeDirectory_data();
    void withoutRuntimeDirectory();

private:
    QString runtime() const { return ApplicationPaths::privateTempPath(); }
    QString quellor() const { return runtime() + QStringLiteral("/Quellor"); }
};

namespace {
QStringList messages;
void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    messages.append(message);
}

#if defined(Q_OS_UNIX)
unsigned modeOf(const QString& path)
{
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return 0xffff;
    return status.st_mode & 07777;
}
#endif
} // namespace

void tst_ApplicationPaths::init()
{
    QFileInfo quellorInfo(quellor());
    if (quellorInfo.isSymLink())
        QFile::remove(quellor());
    else
        QDir(quellor()).removeRecursively();
    QVERIFY(!QFileInfo::exists(quellor()));
}

void tst_ApplicationPaths::downloadDirectoryIsPrivate()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The private runtime directory of the user, not the shared temporary directory.
    QCOMPARE(runtime(), qEnvironmentVariable("XDG_RUNTIME_DIR"));
#endif
    QCOMPARE(ApplicationPaths::downloadDirectory(), runtime() + QStringLiteral("/Quellor/PelkUpdater"));
}

void tst_ApplicationPaths::createsEachLevelClosed()
{
    QString error;
    QVERIFY2(ApplicationPaths::ensureDownloadDirectory(&error), qPrintable(error));
    QVERIFY(QFileInfo(ApplicationPaths::downloadDirectory()).isDir());
#if defined(Q_OS_UNIX)
    QCOMPARE(modeOf(quellor()), 0700u);
    QCOMPARE(modeOf(ApplicationPaths::downloadDirectory()), 0700u);
#endif
    // A second call finds everything in place.
    QVERIFY2(ApplicationPaths::ensureDownloadDirectory(&error), qPrintable(error));
}

void tst_ApplicationPaths::refusesPlantedLink_data()
{
    QTest::addColumn<bool>("atLeaf");
    QTest::newRow("Quellor is a link") << false;
    QTest::newRow("PelkUpdater is a link") << true;
}

void tst_ApplicationPaths::refusesPlantedLink()
{
#if !defined(Q_OS_UNIX)
    QSKIP("Links are checked on Unix only");
#else
    QFETCH(bool, atLeaf);
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    QVERIFY(QFile::setPermissions(
        elsewhere.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    if (atLeaf) {
        QVERIFY(QDir().mkpath(quellor()));
        QVERIFY(QFile::link(elsewhere.path(), quellor() + QStringLiteral("/PelkUpdater")));
    } else {
        QVERIFY(QFile::link(elsewhere.path(), quellor()));
    }

    QString error;
    QVERIFY(!ApplicationPaths::ensureDownloadDirectory(&error));
    QVERIFY2(error.contains(QStringLiteral("not a directory of this user")), qPrintable(error));
    // Nothing was created through the link.
    QVERIFY(
        QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
#endif
}

void tst_ApplicationPaths::tightensOpenDirectory_data()
{
    QTest::addColumn<bool>("atLeaf");
    QTest::newRow("Quellor open") << false;
    QTest::newRow("PelkUpdater open") << true;
}

void tst_ApplicationPaths::tightensOpenDirectory()
{
#if !defined(Q_OS_UNIX)
    QSKIP("Modes are checked on Unix only");
#else
    QFETCH(bool, atLeaf);
    QVERIFY(QDir().mkpath(ApplicationPaths::downloadDirectory()));
    const QString open = atLeaf ? ApplicationPaths::downloadDirectory() : quellor();
    QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);

    QString error;
    QVERIFY2(ApplicationPaths::ensureDownloadDirectory(&error), qPrintable(error));
    QCOMPARE(modeOf(open), 0700u);
#endif
}

void tst_ApplicationPaths::refusesForeignDirectory()
{
#if !defined(Q_OS_UNIX)
    QSKIP("Owners are checked on Unix only");
#else
    if (::geteuid() != 0)
        QSKIP("Giving a directory to another user needs root");
    QVERIFY(QDir().mkpath(quellor()));
    QCOMPARE(::chown(QFile::encodeName(quellor()).constData(), 65534, 65534), 0);

    QString error;
    QVERIFY(!ApplicationPaths::ensureDownloadDirectory(&error));
    QVERIFY2(error.contains(QStringLiteral("not a directory of this user")), qPrintable(error));
    QVERIFY(!QFileInfo::exists(ApplicationPaths::downloadDirectory()));
#endif
}

void tst_ApplicationPaths::refusesFileInThePath()
{
    QFile file(quellor());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QString error;
    QVERIFY(!ApplicationPaths::ensureDownloadDirectory(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFile::remove(quellor()));
}

void tst_ApplicationPaths::withoutRuntimeDirectory_data()
{
    QTest::addColumn<bool>("foreign");
    QTest::newRow("XDG_RUNTIME_DIR unset") << false;
    QTest::newRow("runtime directory of another account") << true;
}

// The user's cache holds what the runtime directory would, closed to others, and the reason is
// logged once however often the path is asked for.
void tst_ApplicationPaths::withoutRuntimeDirectory()
{
#if !defined(Q_OS_UNIX) || defined(Q_OS_MACOS)
    QSKIP("The runtime directory is a freedesktop.org one");
#else
    QFETCH(bool, foreign);
    if (foreign && ::geteuid() != 0)
        QSKIP("Giving a directory to another user needs root");
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir other;
    if (foreign) {
        QCOMPARE(::chown(QFile::encodeName(other.path()).constData(), 65534, 65534), 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(other.path()));
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
    }
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    const QString path = ApplicationPaths::privateTempPath();
    const QStringList firstMessages = messages;
    ApplicationPaths::singleInstanceLockPath();
    ApplicationPaths::downloadDirectory();
    qInstallMessageHandler(previous);
    qputenv("XDG_RUNTIME_DIR", saved);

    QCOMPARE(path, qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/quellor-pelk-updater"));
    QCOMPARE(modeOf(path), unsigned(S_IFDIR | 0700) & 07777);
    QCOMPARE(messages, firstMessages);
    QCOMPARE(messages.filter(QStringLiteral("ApplicationPaths:")).size(), 1);
#endif
}

PELK_TEST_MAIN(tst_ApplicationPaths, PelkPlus::ConsoleTest)

#include "tst_ApplicationPaths.moc"
