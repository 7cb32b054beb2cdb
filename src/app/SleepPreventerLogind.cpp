#include "app/SleepPreventerLogind.h"

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

// The login manager answers at once; a bus that hangs must not freeze the window for long.
constexpr int callTimeout = 5000;

} // namespace

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
    return inhibitorFd >= 0;
}

void SleepPreventerLogind::acquire()
{
    if (inhibitorFd >= 0)
        return;
    // Most runs never update anything; they need no connection to the system bus.
    if (useSystemBus && !bus.isConnected())
        bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qDebug() << "SleepPreventerLogind: No system bus.";
        return;
    }

    // The reply and every QDBusUnixFileDescriptor taken from it hold their own duplicate of the
    // descriptor; they live only in this scope, so that after it ours is the one left open.
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(loginService),
        QString::fromLatin1(loginPath), QString::fromLatin1(loginInterface), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Pelk Updater")
         << QStringLiteral("Updating a device") << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qDebug() << "SleepPreventerLogind: Inhibit refused:" << reply.errorName() << reply.errorMessage();
        return;
    }
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 1 || arguments.first().userType() != qMetaTypeId<QDBusUnixFileDescriptor>()) {
        qDebug() << "SleepPreventerLogind: Unexpected reply to Inhibit:" << reply.signature();
        return;
    }
    const auto descriptor = arguments.first().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) {
        qDebug() << "SleepPreventerLogind: Inhibit gave no descriptor.";
        return;
    }
    const int fd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        qDebug() << "SleepPreventerLogind: Could not keep the inhibitor descriptor.";
        return;
    }
    inhibitorFd = fd;
}

void SleepPreventerLogind::release()
{
    if (inhibitorFd < 0)
        return;
    // Closing the last copy is what tells the login manager that the lock is gone. On Linux the
    // descriptor is released even when close() reports an error, so there is nothing to retry.
    ::close(inhibitorFd);
    inhibitorFd = -1;
}

} // namespace PelkPlus
