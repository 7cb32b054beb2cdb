#include "app/PowerStatusUPower.h"
#include "support/PrivateDBus.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QtTest>

#include <memory>

namespace PelkPlus {

namespace {

const char upowerService[] = "org.freedesktop.UPower";
const char busName[] = "pelk-test-power-bus";

// Where the power service is: a stand-in UPower, a bus without it, or no bus at all.
enum class Service { UPower, Absent, NoBus };

QStringList powerLog;

void capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.startsWith(QLatin1String("PowerStatusUPower:")))
        powerLog.append(message);
}

} // namespace

// The computer's power read from a stand-in UPower on a bus of the test's own.
class tst_PowerStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void reading_data();
    void reading();

private:
    QDBusConnection bus() const { return QDBusConnection(QString::fromLatin1(busName)); }
    bool set(const char* path, const char* interface, const char* name, const QVariant& value);

    std::unique_ptr<PrivateDBus> privateBus;
};

bool tst_PowerStatus::set(const char* path, const char* interface, const char* name, const QVariant& value)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(upowerService),
        QString::fromLatin1(path), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    call << QString::fromLatin1(interface) << QString::fromLatin1(name)
         << QVariant::fromValue(QDBusVariant(value));
    const QDBusMessage reply = bus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage)
        qWarning() << "Set" << name << "failed:" << reply.errorMessage();
    return reply.type() == QDBusMessage::ReplyMessage;
}

void tst_PowerStatus::initTestCase()
{
    if (!PrivateDBus::daemonAvailable())
        PELK_SKIP_UNLESS_REQUIRED(
            "dbus-daemon is not installed (Debian package dbus); the power service cannot be stood in for.");
    if (!PrivateDBus::dbusmockAvailable())
        PELK_SKIP_UNLESS_REQUIRED(
            "python3 with the dbusmock module is not installed (Debian package python3-dbusmock).");

    privateBus = std::make_unique<PrivateDBus>();
    QString error;
    QVERIFY2(privateBus->start(&error), qPrintable(error));
    QVERIFY(QDBusConnection::connectToBus(privateBus->address(), QString::fromLatin1(busName)).isConnected());
    QVERIFY2(privateBus->startMock(QStringLiteral("upower"), &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(
        bus().interface()->isServiceRegistered(QString::fromLatin1(upowerService)).value(), 15000);
}

void tst_PowerStatus::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QString::fromLatin1(busName));
    privateBus.reset();
}

void tst_PowerStatus::reading_data()
{
    QTest::addColumn<int>("service");
    QTest::addColumn<bool>("onBattery");
    // The display device: whether a battery is present, UPower's state and the charge.
    QTest::addColumn<bool>("present");
    QTest::addColumn<uint>("state");
    QTest::addColumn<double>("percentage");
    QTest::addColumn<bool>("known");
    QTest::addColumn<bool>("charging");
    QTest::addColumn<double>("percent");
    QTest::addColumn<bool>("low");

    const int upower = int(Service::UPower);
    const uint charging = 1;
    const uint discharging = 2;
    const uint full = 4;
    QTest::newRow("on AC, a desktop without battery")
        << upower << false << false << 0u << 0.0 << true << false << -1.0 << false;
    QTest::newRow("on AC, a laptop charging at 10 %")
        << upower << false << true << charging << 10.0 << true << true << 10.0 << false;
    QTest::newRow("on AC, a laptop full")
        << upower << false << true << full << 100.0 << true << true << 100.0 << false;
    QTest::newRow("on battery at 80 %")
        << upower << true << true << discharging << 80.0 << true << false << 80.0 << false;
    QTest::newRow("on battery at the threshold")
        << upower << true << true << discharging << 25.0 << true << false << 25.0 << false;
    QTest::newRow("on battery just below it")
        << upower << true << true << discharging << 24.9 << true << false << 24.9 << true;
    QTest::newRow("on battery at 8 %")
        << upower << true << true << discharging << 8.0 << true << false << 8.0 << true;
    QTest::newRow("on battery at 8 % but charging (a weak charger)")
        << upower << true << true << charging << 8.0 << true << true << 8.0 << false;
    QTest::newRow("on battery, no battery present")
        << upower << true << false << discharging << 8.0 << true << false << -1.0 << false;
    QTest::newRow("on battery, a charge beyond all")
        << upower << true << true << discharging << 250.0 << true << false << -1.0 << false;
    QTest::newRow("no power service")
        << int(Service::Absent) << false << false << 0u << 0.0 << false << false << -1.0 << false;
    QTest::newRow("no bus at all") << int(Service::NoBus) << false << false << 0u << 0.0 << false << false
                                   << -1.0 << false;
}

void tst_PowerStatus::reading()
{
    QFETCH(int, service);
    QFETCH(bool, onBattery);
    QFETCH(bool, present);
    QFETCH(uint, state);
    QFETCH(double, percentage);
    QFETCH(bool, known);
    QFETCH(bool, charging);
    QFETCH(double, percent);
    QFETCH(bool, low);

    const char* display = "/org/freedesktop/UPower/devices/DisplayDevice";
    const char* device = "org.freedesktop.UPower.Device";
    QDBusConnection connection = bus();
    const QString otherName = QStringLiteral("pelk-test-power-other");
    std::unique_ptr<PrivateDBus> emptyBus;
    if (Service(service) == Service::UPower) {
        QVERIFY(set("/org/freedesktop/UPower", "org.freedesktop.UPower", "OnBattery", onBattery));
        QVERIFY(set(display, device, "IsPresent", present));
        QVERIFY(set(display, device, "State", state));
        QVERIFY(set(display, device, "Percentage", percentage));
    } else {
        QString address = QStringLiteral("unix:path=") + QDir::tempPath() + QStringLiteral("/no-such-bus");
        if (Service(service) == Service::Absent) {
            emptyBus = std::make_unique<PrivateDBus>();
            QString error;
            QVERIFY2(emptyBus->start(&error), qPrintable(error));
            address = emptyBus->address();
        }
        connection = QDBusConnection::connectToBus(address, otherName);
    }

    powerLog.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    PowerStatus::Reading reading;
    {
        PowerStatusUPower status(connection);
        reading = status.read();
        // Asked again at the next update, but the absence is said once.
        status.read();
    }
    qInstallMessageHandler(previous);
    if (Service(service) != Service::UPower)
        QDBusConnection::disconnectFromBus(otherName);

    QCOMPARE(reading.known, known);
    QCOMPARE(reading.onBattery, onBattery && known);
    QCOMPARE(reading.charging, charging);
    QCOMPARE(reading.percent, percent);
    QCOMPARE(PowerStatus::isLow(reading), low);
    QCOMPARE(powerLog.size(), known ? 0 : 1);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_PowerStatus, PelkPlus::ConsoleTest)

#include "tst_PowerStatus.moc"
