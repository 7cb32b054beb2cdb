#include "device/HidBackend.h"
#include "device/RecordingBackend.h"
#include "support/FakeHidBackend.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

using namespace PelkPlus;

// The recording wrapper: every call goes through unchanged and leaves one JSON line behind.
class tst_RecordingBackend : public QObject
{
    Q_OBJECT

private slots:
    void everyCallIsOneLine();
};

void tst_RecordingBackend::everyCallIsOneLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.jsonl"));
    FakeHidBackend bus;
    bus.plug("/dev/hidraw2", 0x0043, QStringLiteral("PK\u00e9"));
    bus.plug("/dev/hidraw5", 0x0042);
    FakeHidBackend::DeviceScript denied;
    denied.deniedOpens = 1;
    bus.setScript("/dev/hidraw2", denied);
    QVERIFY(!hidRecordingPath());
    const HidBackend* recorder = recordingBackend(bus.table(), QFile::encodeName(path).constData());
    QVERIFY(recorder);
    QCOMPARE(QString::fromLocal8Bit(hidRecordingPath()), path);
    QCOMPARE(QByteArray(recorder->name), QByteArray(bus.table()->name));

    HidDeviceEntry* entries = recorder->enumerate(0x1210, 0);
    QVERIFY(entries && entries->next);
    recorder->freeEnumeration(entries);
    errno = 0;
    QVERIFY(!recorder->openPath("/dev/hidraw2"));
    QCOMPARE(errno, EACCES); // the reason reaches the caller as it would without the recording
    HidDevice* device = recorder->openPath("/dev/hidraw2");
    QVERIFY(device);
    unsigned char request[65] = { 0x00, 0xDB, 0x03, 0x0A };
    QCOMPARE(recorder->write(device, request, sizeof(request)), 65);
    unsigned char reply[64] = {};
    QCOMPARE(recorder->readTimeout(device, reply, sizeof(reply), 100), 64);
    QCOMPARE(recorder->readTimeout(device, reply, sizeof(reply), 20), 0);
    recorder->close(device);
    QCOMPARE(bus.openHandles(), 0);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList calls;
    QList<QJsonObject> lines;
    while (!file.atEnd()) {
        QJsonParseError error {};
        const QJsonObject line = QJsonDocument::fromJson(file.readLine(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(line.value(QStringLiteral("t")).toDouble() >= 0);
        calls << line.value(QStringLiteral("call")).toString();
        lines << line;
    }
    QCOMPARE(calls, (QStringList { "start", "enumerate", "open", "open", "write", "read", "read", "close" }));
    const QJsonArray listed = lines.at(1).value(QStringLiteral("entries")).toArray();
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed.at(0).toObject().value(QStringLiteral("serial")).toString(), QStringLiteral("PK\u00e9"));
    QCOMPARE(listed.at(1).toObject().value(QStringLiteral("product")).toInt(), 0x0042);
    QCOMPARE(lines.at(2).value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    QCOMPARE(lines.at(2).value(QStringLiteral("errno")).toInt(), EACCES);
    QCOMPARE(lines.at(3).value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
    const int id = lines.at(3).value(QStringLiteral("device")).toInt();
    QVERIFY(id > 0);
    QCOMPARE(lines.at(4).value(QStringLiteral("data")).toString(),
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(request), 65).toHex()));
    QCOMPARE(lines.at(5).value(QStringLiteral("data")).toString(),
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(reply), 64).toHex()));
    QCOMPARE(lines.at(6).value(QStringLiteral("result")).toInt(), 0);
    QVERIFY(!lines.at(6).contains(QStringLiteral("data")));
    for (int i = 4; i < 8; ++i)
        QCOMPARE(lines.at(i).value(QStringLiteral("device")).toInt(), id);
}

PELK_TEST_MAIN(tst_RecordingBackend, PelkPlus::ConsoleTest)

#include "tst_RecordingBackend.moc"
