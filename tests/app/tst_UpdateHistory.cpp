#include "app/UpdateHistory.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace PelkPlus;

class tst_UpdateHistory : public QObject
{
    Q_OBJECT

private:
    static UpdateHistoryEntry entry(int n, UpdateHistoryEntry::Outcome outcome = UpdateHistoryEntry::Verified)
    {
        UpdateHistoryEntry e;
        e.time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC).addSecs(n);
        e.model = QStringLiteral("plus");
        e.serial = QStringLiteral("PX-%1").arg(n);
        e.component = QStringLiteral("MCU Firmware");
        e.versionBefore = QStringLiteral("Beta 3.1");
        e.versionSent = QStringLiteral("Release 3.2");
        e.source = QStringLiteral("http://127.0.0.1/pelk/mcu.bin");
        e.sha256 = QString(64, QLatin1Char('a'));
        e.outcome = outcome;
        return e;
    }

private slots:
    void keepsTheMostRecentEntriesInPrivate()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/data/update-history.jsonl");
        QDir().mkpath(dir.path() + QStringLiteral("/data"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int n = 0; n < UpdateHistory::maximumEntries; ++n)
            file.write(QJsonDocument(entry(n).toJson()).toJson(QJsonDocument::Compact) + '\n');
        file.close();

        UpdateHistory history(path);
        QVERIFY(history.append(entry(1000, UpdateHistoryEntry::NotApplied)));
        QVERIFY(history.append(entry(1001, UpdateHistoryEntry::Interrupted)));
        const QList<UpdateHistoryEntry> entries = history.entries();
        QCOMPARE(entries.size(), UpdateHistory::maximumEntries);
        QCOMPARE(entries.first().serial, QStringLiteral("PX-2"));
        QCOMPARE(entries.last().serial, QStringLiteral("PX-1001"));
        QCOMPARE(entries.last().outcome, UpdateHistoryEntry::Interrupted);
        QCOMPARE(entries.last().time, entry(1001).time);
#if !defined(Q_OS_WIN) // Windows keeps it private by the profile folder's access list, not by modes
        QCOMPARE(QFile::permissions(path) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser);
#endif
        QCOMPARE(QDir(dir.path() + QStringLiteral("/data")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void setsADamagedFileAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray good = QJsonDocument(entry(1).toJson()).toJson(QJsonDocument::Compact);
        QTest::newRow("garbage") << QByteArray("\x00\xff\x13garbage", 10);
        QTest::newRow("truncated line") << good + '\n' + good.left(good.size() / 2);
        QTest::newRow("foreign object") << QByteArray("{\"name\":\"something else\"}\n");
        QTest::newRow("unknown outcome") << QByteArray(good).replace("verified", "flashed") + '\n';
        QTest::newRow("a list, not an object") << QByteArray("[1,2,3]\n");
        QTest::newRow("too large") << QByteArray(9 * 1024 * 1024, ' ');
    }

    void setsADamagedFileAside()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/update-history.jsonl");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        UpdateHistory history(path);
        QVERIFY(history.entries().isEmpty());
        QCOMPARE(QDir(dir.path()).entryList({ QStringLiteral("*.damaged-*") }).size(), 1);
        QVERIFY(history.append(entry(7)));
        QCOMPARE(history.entries().size(), 1);
        QCOMPARE(history.entries().first().serial, QStringLiteral("PX-7"));
    }
};

PELK_TEST_MAIN(tst_UpdateHistory, PelkPlus::ConsoleTest)
#include "tst_UpdateHistory.moc"
