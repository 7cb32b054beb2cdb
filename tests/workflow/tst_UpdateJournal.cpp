#include "support/TestMain.h"
#include "workflow/UpdateJournal.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace PelkPlus {

// The journal as a file: what it writes comes back, and what it finds it does not trust is set aside.
class tst_UpdateJournal : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void stoppedText();
    void isFor_data();
    void isFor();

private:
    QTemporaryDir dir;
};

namespace {

UpdateJournal sample()
{
    UpdateJournal journal;
    journal.model = Plus;
    journal.serial = QStringLiteral("PK000001");
    journal.path = QStringLiteral("1-2:1.0");
    journal.components = { { ComponentType::McuFirmware, QStringLiteral("3.2.7"),
                               QStringLiteral("MCU Firmware"), QByteArray(32, '\x11') },
        { ComponentType::Styles, QStringLiteral("0x1A2B"), QStringLiteral("Styles"),
            QByteArray(32, '\x22') } };
    journal.current = 1;
    journal.step = UpdateJournal::Step::AwaitingReboot;
    journal.time = QDateTime(QDate(2026, 12, 8), QTime(14, 3), Qt::LocalTime).toUTC();
    return journal;
}

} // namespace

void tst_UpdateJournal::read_data()
{
    QTest::addColumn<QByteArray>("found");    // what is on disk before the write; empty for nothing
    QTest::addColumn<int>("permissions");     // of what was found
    QTest::addColumn<QByteArray>("appended"); // after the write
    QTest::addColumn<bool>("trusted");

    const int ownerOnly = int(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QTest::newRow("round trip") << QByteArray() << ownerOnly << QByteArray() << true;
    QTest::newRow("written over one open to others")
        << QByteArray("{}") << int(ownerOnly | QFileDevice::ReadOther | QFileDevice::WriteGroup)
        << QByteArray() << true;
    QTest::newRow("torn") << QByteArray() << ownerOnly << QByteArray("{\"format\":") << false;
    QTest::newRow("too large") << QByteArray() << ownerOnly
                               << QJsonDocument(sample().toJson()).toJson()
            + QByteArray(UpdateJournal::maximumFileSize, ' ')
                               << false;
}

void tst_UpdateJournal::read()
{
    QFETCH(QByteArray, found);
    QFETCH(int, permissions);
    QFETCH(QByteArray, appended);
    QFETCH(bool, trusted);

    const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    if (!found.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(found) == found.size());
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::Permissions(permissions)));
    }
    QVERIFY(sample().write(path));
#if !defined(Q_OS_WIN) // Windows keeps it private by the profile folder's access list, not by modes
    QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
    if (!appended.isEmpty()) {
        QFile file(path);
        QVERIFY(
            file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(appended) == appended.size());
    }

    const std::optional<UpdateJournal> back = UpdateJournal::read(path);
    QCOMPARE(back.has_value(), trusted);
    // Never trusted, and never read again: set aside beside it.
    QCOMPARE(QFile::exists(path), trusted);
    if (trusted)
        QCOMPARE(back->toJson(), sample().toJson());
    else
        QCOMPARE(QDir(dir.path()).entryList({ QLatin1String(QTest::currentDataTag()) + "*" }).size(), 1);
}

void tst_UpdateJournal::stoppedText()
{
    QCOMPARE(sample().stoppedText(),
        QStringLiteral("The last update of this Pelk+ stopped during Styles on 8 December at 14:03."));
}

void tst_UpdateJournal::isFor_data()
{
    QTest::addColumn<QString>("journalSerial");
    QTest::addColumn<QString>("serial"); // of the device connected now
    QTest::addColumn<QString>("port");   // its USB port; empty where the platform does not say
    QTest::addColumn<bool>("matches");

    QTest::newRow("same serial, another port") << "PK000001"
                                               << "PK000001"
                                               << "1-4:1.0" << true;
    QTest::newRow("another serial") << "PK000001"
                                    << "PK000002"
                                    << "1-2:1.0" << false;
    QTest::newRow("no serial, same port") << ""
                                          << ""
                                          << "1-2:1.0" << true;
    QTest::newRow("no serial, another port") << ""
                                             << ""
                                             << "1-4:1.0" << false;
    QTest::newRow("no serial, port unknown") << ""
                                             << ""
                                             << "" << true;
}

void tst_UpdateJournal::isFor()
{
    QFETCH(QString, journalSerial);
    QFETCH(QString, serial);
    QFETCH(QString, port);
    QFETCH(bool, matches);
    UpdateJournal journal = sample();
    journal.serial = journalSerial;
    Connection device;
    device.model = Plus;
    device.serialNumber = serial;
    device.path = QStringLiteral("/dev/hidraw7");
    device.portPath = port;
    QCOMPARE(journal.isFor(device), matches);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdateJournal, PelkPlus::ConsoleTest)

#include "tst_UpdateJournal.moc"
