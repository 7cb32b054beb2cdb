#include "app/ConfigurationManager.h"

#include "app/ApplicationIdentity.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <memory>

using PelkPlus::ConfigurationManager;

class tst_ConfigurationManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstStart();
    void settingsLiveInTheTestLocation();
    void oldSchemaIsMigrated_data();
    void oldSchemaIsMigrated();
    void unreadableFileIsKept();
    void currentOrNewerSchemaIsKept_data();
    void currentOrNewerSchemaIsKept();
    void urlSurvivesRestart();
    void resetGivesDefault();
    void secondLiveManagerThrows();
    void instanceFollowsLifetime();

private:
    void clearStore();
};

void tst_ConfigurationManager::clearStore()
{
    QDir().rmdir(QSettings().fileName());
    QSettings settings;
    settings.clear();
    settings.sync();
}

void tst_ConfigurationManager::init()
{
    clearStore();
}

void tst_ConfigurationManager::cleanup()
{
    QVERIFY(!ConfigurationManager::instance());
}

void tst_ConfigurationManager::firstStart()
{
    QTest::ignoreMessage(QtDebugMsg, "Configuration manager: current version: 1");
    QTest::ignoreMessage(QtDebugMsg, "Configuration manager: existing version: 0");
    ConfigurationManager manager;
    QCOMPARE(
        manager.manifestUrl(), QUrl(QStringLiteral("http://updates.quellor.com/pelk/update-manifest.xml")));
    QCOMPARE(manager.manifestUrl(), ConfigurationManager::defaultManifestUrl());
    QCOMPARE(QSettings().value(QStringLiteral("version")).toInt(), 1);
}

void tst_ConfigurationManager::settingsLiveInTheTestLocation()
{
    ConfigurationManager manager;
    const QString file = QSettings().fileName();
    QVERIFY2(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")), qPrintable(file));
    QVERIFY(file.contains(QStringLiteral("Quellor")));
}

void tst_ConfigurationManager::oldSchemaIsMigrated_data()
{
    QTest::addColumn<QVariant>("storedVersion");
    QTest::newRow("none") << QVariant();
    QTest::newRow("zero") << QVariant(0);
    QTest::newRow("negative") << QVariant(-3);
    QTest::newRow("not a number") << QVariant(QStringLiteral("one"));
}

void tst_ConfigurationManager::oldSchemaIsMigrated()
{
    QFETCH(QVariant, storedVersion);
    {
        QSettings settings;
        if (storedVersion.isValid())
            settings.setValue(QStringLiteral("version"), storedVersion);
        settings.setValue(
            QStringLiteral("update/manifest-url"), QUrl(QStringLiteral("http://old.example/m.xml")));
        // As an administrator writes them by hand; a revoked key lost would be trusted again.
        settings.setValue(QStringLiteral("update/trusted-keys"), QStringLiteral("bmV3,b3Ro"));
        settings.setValue(QStringLiteral("update/revoked-keys"), QStringLiteral("b2xk"));
        settings.setValue(QStringLiteral("legacy/key"), 7);
    }
    QFile::setPermissions(QSettings().fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    ConfigurationManager manager;
    QCOMPARE(manager.manifestUrl(), QUrl(QStringLiteral("http://old.example/m.xml")));
    QSettings settings;
    QCOMPARE(settings.allKeys(),
        QStringList({ QStringLiteral("update/manifest-url"), QStringLiteral("update/revoked-keys"),
            QStringLiteral("update/trusted-keys"), QStringLiteral("version") }));
    QCOMPARE(settings.value(QStringLiteral("update/trusted-keys")).toString(), QStringLiteral("bmV3,b3Ro"));
    QCOMPARE(settings.value(QStringLiteral("version")).toInt(), 1);
#if !defined(Q_OS_WIN) // Windows keeps it private by the profile folder's access list, not by modes
    QCOMPARE(QFile::permissions(settings.fileName()) & 0x0fff, QFile::ReadUser | QFile::WriteUser); // 0600
#endif
}

void tst_ConfigurationManager::unreadableFileIsKept()
{
    // Where the file should be, something that cannot be read as one; clearStore() removes it.
    const QString path = QSettings().fileName();
    QVERIFY(QFile::remove(path) && QDir().mkpath(path));
    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(QStringLiteral("^Configuration manager: The settings file ")));
    ConfigurationManager manager;
    manager.setManifestUrl(QUrl(QStringLiteral("http://elsewhere.example/m.xml")));
    QVERIFY(ConfigurationManager::settingsProblem().contains(path) && QFileInfo(path).isDir());
}

void tst_ConfigurationManager::currentOrNewerSchemaIsKept_data()
{
    QTest::addColumn<int>("storedVersion");
    QTest::newRow("current") << 1;
    QTest::newRow("newer") << 4;
}

void tst_ConfigurationManager::currentOrNewerSchemaIsKept()
{
    QFETCH(int, storedVersion);
    const QUrl url(QStringLiteral("https://mirror.example/pelk/manifest.xml"));
    {
        QSettings settings;
        settings.setValue(QStringLiteral("version"), storedVersion);
        settings.setValue(QStringLiteral("update/manifest-url"), url);
        settings.setValue(QStringLiteral("other"), 7);
    }
    QTest::ignoreMessage(QtDebugMsg, "Configuration manager: current version: 1");
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QStringLiteral("Configuration manager: existing version: %1").arg(storedVersion)));
    ConfigurationManager manager;
    QCOMPARE(manager.manifestUrl(), url);
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("other")).toInt(), 7);
    QCOMPARE(settings.value(QStringLiteral("version")).toInt(), 1);
}

void tst_ConfigurationManager::urlSurvivesRestart()
{
    const QUrl url(QStringLiteral("http://127.0.0.1:8080/my manifest.xml"));
    {
        ConfigurationManager first;
        first.setManifestUrl(url);
        QCOMPARE(first.manifestUrl(), url);
    }
    ConfigurationManager second;
    QCOMPARE(second.manifestUrl(), url);
}

void tst_ConfigurationManager::resetGivesDefault()
{
    {
        ConfigurationManager first;
        first.setManifestUrl(QUrl(QStringLiteral("http://elsewhere.example/m.xml")));
        first.resetManifestUrl();
        QCOMPARE(first.manifestUrl(), ConfigurationManager::defaultManifestUrl());
        first.setManifestUrl(QUrl(QStringLiteral("http://elsewhere.example/m.xml")));
    }
    {
        ConfigurationManager second;
        second.resetManifestUrl();
    }
    ConfigurationManager third;
    QCOMPARE(third.manifestUrl(), ConfigurationManager::defaultManifestUrl());
    QVERIFY(!QSettings().contains(QStringLiteral("update/manifest-url")));
}

void tst_ConfigurationManager::secondLiveManagerThrows()
{
    ConfigurationManager first;
    first.setManifestUrl(QUrl(QStringLiteral("http://kept.example/m.xml")));
    QVERIFY_EXCEPTION_THROWN(std::make_unique<ConfigurationManager>(), ConfigurationManager::Error);
    // The failed construction leaves the live manager and its settings untouched.
    QCOMPARE(ConfigurationManager::instance(), &first);
    QCOMPARE(first.manifestUrl(), QUrl(QStringLiteral("http://kept.example/m.xml")));
}

void tst_ConfigurationManager::instanceFollowsLifetime()
{
    QVERIFY(!ConfigurationManager::instance());
    auto* manager = new ConfigurationManager;
    QCOMPARE(ConfigurationManager::instance(), manager);
    delete manager;
    QVERIFY(!ConfigurationManager::instance());
}

PELK_TEST_MAIN(tst_ConfigurationManager, PelkPlus::ConsoleTest)

#include "tst_ConfigurationManager.moc"
