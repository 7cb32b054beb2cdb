#include "app/SleepPreventerPortal.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDebug>
#include <QVariantMap>

namespace PelkPlus {

namespace {

const char portalService[] = "org.freedesktop.portal.Desktop";
const char portalPath[] = "/org/freedesktop/portal/desktop";

// The portal is asked on the GUI thread, once per update, and answers at once when it runs.
constexpr int callTimeout = 1000;

} // namespace

SleepPreventerPortal::SleepPreventerPortal()
    : bus(QString())
    , useSessionBus(true)
{ }

SleepPreventerPortal::SleepPreventerPortal(const QDBusConnection& bus)
    : bus(bus)
{ }

SleepPreventerPortal::~SleepPreventerPortal()
{
    release();
}

void SleepPreventerPortal::setPreventSleep(bool on)
{
    if (on)
        acquire();
    else
        release();
}

bool SleepPreventerPortal::isPreventingSleep() const
{
    return active;
}

void SleepPreventerPortal::acquire()
{
    if (active)
        return;
    release();
    if (useSessionBus && !bus.isConnected())
        bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qDebug() << "SleepPreventerPortal: No session bus.";
        return;
    }

    // The portal names the request after our unique name and this token, so the handle is known
    // even when its answer comes too late.
    static int requests = 0;
    const QString token = QStringLiteral("pelk_updater_%1").arg(++requests);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expected
        = QString::fromLatin1(portalPath) + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;

    QDBusMessage call
        = QDBusMessage::createMethodCall(QString::fromLatin1(portalService), QString::fromLatin1(portalPath),
            QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    const QVariantMap options { { QStringLiteral("reason"), reasonText() },
        { QStringLiteral("handle_token"), token } };
    call << QString() << inhibitFlags << options;
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qDebug() << "SleepPreventerPortal: Inhibit refused:" << reply.errorName() << reply.errorMessage();
        if (QDBusError(reply).type() == QDBusError::NoReply)
            handle = expected;
        return;
    }
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 1 || arguments.first().userType() != qMetaTypeId<QDBusObjectPath>()) {
        qDebug() << "SleepPreventerPortal: Unexpected reply to Inhibit:" << reply.signature();
        return;
    }
    handle = arguments.first().value<QDBusObjectPath>().path();
    active = true;
    qDebug().noquote() << "SleepPreventerPortal: Inhibiting through" << handle;
}

void SleepPreventerPortal::release()
{
    active = false;
    if (handle.isEmpty())
        return;
    // Nothing waits for the answer: a portal gone meanwhile has dropped the request with it.
    bus.send(QDBusMessage::createMethodCall(QString::fromLatin1(portalService), handle,
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
    handle.clear();
}

} // namespace PelkPlus
