#include "device/HidBackend.h"
#include "device/HidapiBackend.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>

#include <hidapi.h>

#include <cerrno>
#include <cwchar>

using namespace PelkPlus;

// What the program takes from hidapi without a device: its enumeration results and the guard in
// front of hid_open_path.
class tst_HidapiBackend : public QObject
{
    Q_OBJECT

private slots:
    void missingStringsStayMissing_data();
    void missingStringsStayMissing();
    void onlyDeviceNodesReachHidapi_data();
    void onlyDeviceNodesReachHidapi();
};

void tst_HidapiBackend::missingStringsStayMissing_data()
{
    QTest::addColumn<QByteArray>("path"); // null: hidapi had none
    QTest::addColumn<QString>("serial");  // null: hidapi had none
    QTest::newRow("both present") << QByteArray("/dev/hidraw3") << QStringLiteral("PK1");
    QTest::newRow("no path") << QByteArray() << QStringLiteral("PK1");
    QTest::newRow("no serial number") << QByteArray("/dev/hidraw3") << QString();
    QTest::newRow("empty serial number") << QByteArray("/dev/hidraw3") << QStringLiteral("");
    QTest::newRow("neither") << QByteArray() << QString();
}

void tst_HidapiBackend::missingStringsStayMissing()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, serial);
    std::wstring wide = serial.toStdWString();
    hid_device_info second {};
    second.path = const_cast<char*>("/dev/hidraw4");
    second.vendor_id = 0x1210;
    second.product_id = 0x0042;
    hid_device_info first {};
    first.path = path.isNull() ? nullptr : path.data();
    first.serial_number = serial.isNull() ? nullptr : &wide[0];
    first.vendor_id = 0x1210;
    first.product_id = 0x0043;
    first.next = &second;

    HidDeviceEntry* entries = entriesFromHidapi(&first);
    QVERIFY(entries);
    QCOMPARE(entries->path == nullptr, path.isNull());
    if (!path.isNull())
        QCOMPARE(QByteArray(entries->path), path);
    QCOMPARE(entries->serialNumber == nullptr, serial.isNull());
    if (!serial.isNull())
        QCOMPARE(QString::fromWCharArray(entries->serialNumber), serial);
    QCOMPARE(entries->productId, quint16(0x0043));
    QVERIFY(entries->next);
    QCOMPARE(QByteArray(entries->next->path), QByteArray("/dev/hidraw4"));
    QVERIFY(!entries->next->serialNumber);
    QVERIFY(!entries->next->next);
    freeHidDeviceEntries(entries);
}

void tst_HidapiBackend::onlyDeviceNodesReachHidapi_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("reason");
    // hidapi 0.13.1 touches freed memory when the first ioctl on what it opened fails: a node that
    // vanished, or anything that is no device node, must not reach it.
    QTest::newRow("vanished node") << QStringLiteral("hidraw9") << ENOENT;
    QTest::newRow("a plain file") << QStringLiteral("file") << ENODEV;
    QTest::newRow("a directory") << QStringLiteral("directory") << ENODEV;
}

void tst_HidapiBackend::onlyDeviceNodesReachHidapi()
{
    QFETCH(QString, name);
    QFETCH(int, reason);
#if defined(Q_OS_WIN)
    if (reason == ENODEV)
        QSKIP("Windows has no device nodes: the HID class driver's paths reach hidapi unchecked");
#endif
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64, 'x'));
    file.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("directory")));

    errno = 0;
    HidDevice* device = hidapiBackend()->openPath(QFile::encodeName(dir.filePath(name)).constData());
    QVERIFY(!device);
    QCOMPARE(errno, reason);
}

PELK_TEST_MAIN(tst_HidapiBackend, PelkPlus::ConsoleTest)

#include "tst_HidapiBackend.moc"
