#include "app/SleepPreventerLogind.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDebug>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

namespace PelkPlus {

namespace {

const char loginService[] = "org.freedesktop.login1";
const char loginPath[] = "/org/freedesktop/login1";
const char loginInterface[] = "org.freedesktop.login1.Manager";

// The login manager answers at once; a bus that hangs must not freeze the window for long. The
// call is made on the GUI thread, once per update.
constexpr int callTimeout = 1000;

// Errors that say nobody is there to ask, as opposed to a refusal of what was asked.
bool unreachable(const QDBusMessage& reply)
{
    switch (QDBusError(reply).type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::NoNetwork:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

QString SleepPreventerLogind::blockedText()
{
    return QStringLiteral("sleep:idle:handle-lid-switch:shutdown");
}

SleepPreventerLogind::SleepPreventerLogind()
    : bus(QString())
    , useSystemBus(true)
{ }

SleepPreventerLogind::SleepPreventerLogind(const QDBusConnection& bus)
    : bus(bus)
{ }

SleepPreventerLogind::~SleepPreventerLogind()
{
    release();
}

void SleepPreventerLogind::setPreventSleep(bool on)
{
    if (on)
        acquire();
    else
        release();
}

bool SleepPreventerLogind::isPreventingSleep() const
{
    return blocked.contains(QLatin1String("sleep")) || blocked.contains(QLatin1String("idle"));
}

void SleepPreventerLogind::acquire()
{
    if (!inhibitorFds.empty())
        return;
    // Most runs never update anything; they need no connection to the system bus.
    if (useSystemBus && !bus.isConnected())
        bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qDebug() << "SleepPreventerLogind: No system bus.";
        return;
    }

    // The policy may grant some of the locks and not others (blocking shutdown is often kept for
    // administrators): what it grants alone is still worth holding.
    if (inhibit(blockedText()) == Answer::Refused) {
        const QStringList parts = blockedText().split(QLatin1Char(':'));
        for (const QString& what : parts) {
            if (inhibit(what) == Answer::Unreachable)
                break;
        }
    }
    if (!blocked.isEmpty())
        qDebug().noquote() << "SleepPreventerLogind: Blocking" << blocked.join(QLatin1Char(':'));
}

SleepPreventerLogind::Answer SleepPreventerLogind::inhibit(const QString& what)
{
    // The reply and every QDBusUnixFileDescriptor taken from it hold their own duplicate of the
    // descriptor; they live only in this scope, so that after it ours is the one left open.
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(loginService),
        QString::fromLatin1(loginPath), QString::fromLatin1(loginInterface), QStringLiteral("Inhibit"));
    call << what << QStringLiteral("Pelk Updater") << reasonText() << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qDebug() << "SleepPreventerLogind: Inhibit" << what << "refused:" << reply.errorName()
                 << reply.errorMessage();
        return unreachable(reply) ? Answer::Unreachable : Answer::Refused;
    }
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 1 || arguments.first().userType() != qMetaTypeId<QDBusUnixFileDescriptor>()) {
        qDebug() << "SleepPreventerLogind: Unexpected reply to Inhibit:" << reply.signature();
        return Answer::Refused;
    }
    const auto descriptor = arguments.first().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) {
        qDebug() << "SleepPreventerLogind: Inhibit gave no descriptor.";
        return Answer::Refused;
    }
    const int fd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        qDebug() << "SleepPreventerLogind: Could not keep the inhibitor descriptor.";
        return Answer::Refused;
    }
    inhibitorFds.push_back(fd);
    blocked << what.split(QLatin1Char(':'));
    return Answer::Granted;
}

void SleepPreventerLogind::release()
{
    // Closing the last copy is what tells the login manager that a lock is gone. On Linux the
    // descriptor is released even when close() reports an error, so there is nothing to retry.
    for (const int fd : inhibitorFds)
        ::close(fd);
    inhibitorFds.clear();
    blocked.clear();
}

} // namespace PelkPlus
