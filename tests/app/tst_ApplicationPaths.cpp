#include "app/ApplicationPaths.h"

#include "support/TestEnvironment.h"

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

private:
    QString runtime() const { return ApplicationPaths::privateTempPath(); }
    QString quellor() const { return runtime() + QStringLiteral("/Quellor"); }
};

namespace {
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

int main(int argc, char** argv)
{
    PelkPlus::TestEnvironment env;
    QCoreApplication app(argc, argv);
    tst_ApplicationPaths test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ApplicationPaths.moc"
