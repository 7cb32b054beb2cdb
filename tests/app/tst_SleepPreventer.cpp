#include "app/SleepPreventerGroup.h"
#include "app/SleepPreventerLogind.h"
#include "app/SleepPreventerPortal.h"
#include "support/PrivateDBus.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QtTest>

#include <memory>

namespace PelkPlus {

namespace {

const char loginService[] = "org.freedesktop.login1";
const char loginPath[] = "/org/freedesktop/login1";
const char loginInterface[] = "org.freedesktop.login1.Manager";
const char mockInterface[] = "org.freedesktop.DBus.Mock";
const char busName[] = "pelk-test-private-bus";

struct Inhibitor
{
    QString what;
    QString who;
    QString why;
    QString mode;
};

} // namespace

// The login-manager sleep preventer against a stand-in login1 service on a bus of the test's own.
class TestSleepPreventer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void switchingOnHoldsInhibitor();
    void switchingOffReleasesInhibitor();
    void switchingOnTwiceMakesOneCall();
    void switchingOffWithoutOnMakesNoCall();
    void switchingOnAgainAfterOff();
    void destructionReleasesInhibitor();
    void unavailableServiceGivesFalse_data();
    void unavailableServiceGivesFalse();
    void refusedRequestGivesFalse();
    void partlyRefusedKeepsWhatIsGranted();
    void portalStandsIn_data();
    void portalStandsIn();

private:
    QDBusConnection bus() const { return QDBusConnection(QString::fromLatin1(busName)); }
    QDBusMessage callLogin(
        const char* interface, const QString& method, const QList<QVariant>& arguments = {}) const;
    QList<Inhibitor> inhibitors() const;
    int inhibitCalls() const { return int(calls(bus(), loginService, loginPath, "Inhibit").size()); }
    // The arguments of each call of method that a stand-in service received.
    static QList<QVariantList> calls(
        const QDBusConnection& on, const char* service, const QString& path, const char* method);
    // Makes logind's Inhibit run the template's own after code of the test's.
    bool replaceInhibit(const QString& code = QString()) const;
    void startLoginMock();

    std::unique_ptr<PrivateDBus> privateBus;
};

QDBusMessage TestSleepPreventer::callLogin(
    const char* interface, const QString& method, const QList<QVariant>& arguments) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(loginService),
        QString::fromLatin1(loginPath), QString::fromLatin1(interface), method);
    call.setArguments(arguments);
    return bus().call(call);
}

QList<Inhibitor> TestSleepPreventer::inhibitors() const
{
    QList<Inhibitor> result;
    const QDBusMessage reply = callLogin(loginInterface, QStringLiteral("ListInhibitors"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        qWarning() << "ListInhibitors failed:" << reply.errorMessage();
        return result;
    }
    const auto list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Inhibitor inhibitor;
        uint uid = 0;
        uint pid = 0;
        list.beginStructure();
        list >> inhibitor.what >> inhibitor.who >> inhibitor.why >> inhibitor.mode >> uid >> pid;
        list.endStructure();
        result << inhibitor;
    }
    list.endArray();
    return result;
}

QList<QVariantList> TestSleepPreventer::calls(
    const QDBusConnection& on, const char* service, const QString& path, const char* method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), path,
        QString::fromLatin1(mockInterface), QStringLiteral("GetMethodCalls"));
    call << QString::fromLatin1(method);
    const QDBusMessage reply = on.call(call);
    QList<QVariantList> result;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        qWarning() << "GetMethodCalls failed:" << reply.errorMessage();
        return result;
    }
    const auto list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong time = 0;
        QVariantList arguments;
        list.beginStructure();
        list >> time;
        list.beginArray();
        while (!list.atEnd()) {
            QDBusVariant argument;
            list >> argument;
            arguments << argument.variant();
        }
        list.endArray();
        list.endStructure();
        result << arguments;
    }
    list.endArray();
    return result;
}

bool TestSleepPreventer::replaceInhibit(const QString& code) const
{
    return callLogin(mockInterface, QStringLiteral("AddMethod"),
               { QString::fromLatin1(loginInterface), QStringLiteral("Inhibit"), QStringLiteral("ssss"),
                   QStringLiteral("h"),
                   code
                       + QStringLiteral(
                           "\nret = sys.modules['dbusmock.templates.logind'].Inhibit(self, *args)") })
               .type()
        == QDBusMessage::ReplyMessage;
}

void TestSleepPreventer::startLoginMock()
{
    QString error;
    QVERIFY2(privateBus->startMock(QStringLiteral("logind"), &error), qPrintable(error));
    const QString service = QString::fromLatin1(loginService);
    QTRY_VERIFY_WITH_TIMEOUT(bus().interface()->isServiceRegistered(service).value(), 15000);
}

void TestSleepPreventer::initTestCase()
{
    if (!PrivateDBus::daemonAvailable())
        PELK_SKIP_UNLESS_REQUIRED(
            "dbus-daemon is not installed (Debian package dbus); the login manager cannot be stood in for.");
    if (!PrivateDBus::dbusmockAvailable())
        PELK_SKIP_UNLESS_REQUIRED(
            "python3 with the dbusmock module is not installed (Debian package python3-dbusmock).");

    privateBus = std::make_unique<PrivateDBus>();
    QString error;
    QVERIFY2(privateBus->start(&error), qPrintable(error));
    QVERIFY(QDBusConnection::connectToBus(privateBus->address(), QString::fromLatin1(busName)).isConnected());
    startLoginMock();
}

void TestSleepPreventer::init()
{
    QVERIFY(replaceInhibit());
    QVERIFY(callLogin(mockInterface, QStringLiteral("ClearCalls")).type() == QDBusMessage::ReplyMessage);
    QTRY_VERIFY(inhibitors().isEmpty());
}

void TestSleepPreventer::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QString::fromLatin1(busName));
    privateBus.reset();
}

void TestSleepPreventer::switchingOnHoldsInhibitor()
{
    SleepPreventerLogind preventer(bus());
    QVERIFY(!preventer.isPreventingSleep());

    preventer.setPreventSleep(true);
    QVERIFY(preventer.isPreventingSleep());

    const QList<Inhibitor> held = inhibitors();
    QCOMPARE(held.size(), 1);
    QCOMPARE(held.first().what, QStringLiteral("sleep:idle:handle-lid-switch:shutdown"));
    QCOMPARE(held.first().who, QStringLiteral("Pelk Updater"));
    QCOMPARE(held.first().why, QStringLiteral("Updating a Pelk device"));
    QCOMPARE(held.first().mode, QStringLiteral("block"));

    // The lock must outlive the call: the service drops it as soon as the last copy of the
    // descriptor is closed, which would have happened already if we had kept none.
    QCoreApplication::processEvents();
    QCOMPARE(inhibitors().size(), 1);
}

void TestSleepPreventer::switchingOffReleasesInhibitor()
{
    SleepPreventerLogind preventer(bus());
    preventer.setPreventSleep(true);
    QCOMPARE(inhibitors().size(), 1);

    preventer.setPreventSleep(false);
    QVERIFY(!preventer.isPreventingSleep());
    // Only released when every copy of the descriptor in this process is closed.
    QTRY_COMPARE(inhibitors().size(), 0);
}

void TestSleepPreventer::switchingOnTwiceMakesOneCall()
{
    SleepPreventerLogind preventer(bus());
    preventer.setPreventSleep(true);
    preventer.setPreventSleep(true);
    QVERIFY(preventer.isPreventingSleep());
    QCOMPARE(inhibitCalls(), 1);
    QCOMPARE(inhibitors().size(), 1);

    preventer.setPreventSleep(false);
    QTRY_COMPARE(inhibitors().size(), 0);
    preventer.setPreventSleep(false);
    QVERIFY(!preventer.isPreventingSleep());
}

void TestSleepPreventer::switchingOffWithoutOnMakesNoCall()
{
    SleepPreventerLogind preventer(bus());
    preventer.setPreventSleep(false);
    QVERIFY(!preventer.isPreventingSleep());
    QCOMPARE(inhibitCalls(), 0);
}

void TestSleepPreventer::switchingOnAgainAfterOff()
{
    SleepPreventerLogind preventer(bus());
    preventer.setPreventSleep(true);
    preventer.setPreventSleep(false);
    QTRY_COMPARE(inhibitors().size(), 0);

    preventer.setPreventSleep(true);
    QVERIFY(preventer.isPreventingSleep());
    QCOMPARE(inhibitCalls(), 2);
    QCOMPARE(inhibitors().size(), 1);
}

void TestSleepPreventer::destructionReleasesInhibitor()
{
    {
        SleepPreventerLogind preventer(bus());
        preventer.setPreventSleep(true);
        QCOMPARE(inhibitors().size(), 1);
    }
    QTRY_COMPARE(inhibitors().size(), 0);
}

void TestSleepPreventer::unavailableServiceGivesFalse_data()
{
    QTest::addColumn<bool>("busExists");
    QTest::newRow("no login manager on the bus") << true;
    QTest::newRow("no bus at all") << false;
}

void TestSleepPreventer::unavailableServiceGivesFalse()
{
    QFETCH(bool, busExists);

    const QString connectionName = QStringLiteral("pelk-test-unavailable");
    std::unique_ptr<PrivateDBus> emptyBus;
    QString address = QStringLiteral("unix:path=") + QDir::tempPath() + QStringLiteral("/no-such-bus");
    if (busExists) {
        emptyBus = std::make_unique<PrivateDBus>();
        QString error;
        QVERIFY2(emptyBus->start(&error), qPrintable(error));
        address = emptyBus->address();
    }
    {
        QDBusConnection connection = QDBusConnection::connectToBus(address, connectionName);
        QCOMPARE(connection.isConnected(), busExists);

        SleepPreventerLogind preventer(connection);
        preventer.setPreventSleep(true);
        QVERIFY(!preventer.isPreventingSleep());
        // Switching off after a refusal is harmless.
        preventer.setPreventSleep(false);
        QVERIFY(!preventer.isPreventingSleep());
    }
    QDBusConnection::disconnectFromBus(connectionName);
}

void TestSleepPreventer::refusedRequestGivesFalse()
{
    const QDBusMessage added = callLogin(mockInterface, QStringLiteral("AddMethod"),
        { QString::fromLatin1(loginInterface), QStringLiteral("Inhibit"), QStringLiteral("ssss"),
            QStringLiteral("h"),
            QStringLiteral("raise dbus.exceptions.DBusException('Permission denied', "
                           "name='org.freedesktop.DBus.Error.AccessDenied')") });
    QCOMPARE(added.type(), QDBusMessage::ReplyMessage);

    SleepPreventerLogind preventer(bus());
    preventer.setPreventSleep(true);
    QVERIFY(!preventer.isPreventingSleep());
    // All four at once, then each alone.
    QCOMPARE(inhibitCalls(), 5);

    // A later attempt asks again rather than remembering the refusal.
    preventer.setPreventSleep(true);
    QCOMPARE(inhibitCalls(), 10);
    QVERIFY(!preventer.isPreventingSleep());
}

void TestSleepPreventer::partlyRefusedKeepsWhatIsGranted()
{
    QVERIFY(replaceInhibit(QStringLiteral("if 'shutdown' in args[0]: raise dbus.exceptions.DBusException("
                                          "'No', name='org.freedesktop.DBus.Error.AccessDenied')")));
    SleepPreventerLogind preventer(bus());
    preventer.setPreventSleep(true);
    QVERIFY(preventer.isPreventingSleep());
    QStringList held;
    for (const Inhibitor& inhibitor : inhibitors())
        held << inhibitor.what;
    QCOMPARE(held, QStringList({ "sleep", "idle", "handle-lid-switch" }));

    preventer.setPreventSleep(false);
    QTRY_COMPARE(inhibitors().size(), 0);
}

void TestSleepPreventer::portalStandsIn_data()
{
    QTest::addColumn<bool>("loginRefuses");
    QTest::newRow("the login manager refuses") << true;
    QTest::newRow("no login manager") << false;
}

void TestSleepPreventer::portalStandsIn()
{
    QFETCH(bool, loginRefuses);
    const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
    const QString desktop = QStringLiteral("/org/freedesktop/portal/desktop");
    PrivateDBus session;
    QString error;
    QVERIFY2(session.start(&error), qPrintable(error));
    QVERIFY2(session.startMock({ "--session", portal, desktop, "org.freedesktop.portal.Inhibit" }, &error),
        qPrintable(error));
    // A row of its own: a failed row leaves its connection behind.
    const QString name = QStringLiteral("pelk-test-session-") + QString::fromLatin1(QTest::currentDataTag());
    {
        QDBusConnection sessionBus = QDBusConnection::connectToBus(session.address(), name);
        QTRY_VERIFY_WITH_TIMEOUT(sessionBus.interface()->isServiceRegistered(portal).value(), 15000);
        QDBusMessage add = QDBusMessage::createMethodCall(
            portal, desktop, QString::fromLatin1(mockInterface), QStringLiteral("AddMethod"));
        add << QString() << QStringLiteral("Inhibit") << QStringLiteral("sua{sv}") << QStringLiteral("o")
            << QStringLiteral(
                   "ret = dbus.ObjectPath('/request/' + args[2]['handle_token'])\n"
                   "self.AddObject(ret, 'org.freedesktop.portal.Request', {}, [('Close', '', '', '')])");
        QCOMPARE(sessionBus.call(add).type(), QDBusMessage::ReplyMessage);
        if (loginRefuses)
            QVERIFY(replaceInhibit(QStringLiteral("raise dbus.exceptions.DBusException('No', "
                                                  "name='org.freedesktop.DBus.Error.AccessDenied')")));

        SleepPreventerGroup preventer({ new SleepPreventerLogind(loginRefuses ? bus() : sessionBus),
            new SleepPreventerPortal(sessionBus) });
        preventer.setPreventSleep(true);
        QVERIFY(preventer.isPreventingSleep());
        const QList<QVariantList> asked
            = calls(sessionBus, "org.freedesktop.portal.Desktop", desktop, "Inhibit");
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().value(1).toUInt(), 15u);
        const QVariantMap options = qdbus_cast<QVariantMap>(asked.first().value(2));
        QCOMPARE(
            options.value(QStringLiteral("reason")).toString(), QStringLiteral("Updating a Pelk device"));

        preventer.setPreventSleep(false);
        QVERIFY(!preventer.isPreventingSleep());
        const QString request
            = QStringLiteral("/request/") + options.value(QStringLiteral("handle_token")).toString();
        QTRY_COMPARE(calls(sessionBus, "org.freedesktop.portal.Desktop", request, "Close").size(), 1);
    }
    QDBusConnection::disconnectFromBus(name);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::TestSleepPreventer, PelkPlus::ConsoleTest)

#include "tst_SleepPreventer.moc"
