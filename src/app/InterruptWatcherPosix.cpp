#include "app/InterruptWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace PelkPlus {

namespace {

int sockets[2] = { -1, -1 };

// Ctrl-C, a service manager's or a shutdown's stop, and the terminal closing.
const int watchedSignals[] = { SIGINT, SIGTERM, SIGHUP };
QSocketNotifier* notifier = nullptr;

void onSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    // Nothing else is safe here; a full socket only loses an interruption already pending.
    const ssize_t written = ::write(sockets[0], &byte, 1);
    (void)written;
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sockets) != 0)
        return;
    notifier = new QSocketNotifier(sockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(sockets[1], &byte, 1) == 1)
            emit interrupted(int(byte));
    });
    watching = true;
    for (int signalNumber : watchedSignals)
        setHandler(signalNumber, onSignal);
}

InterruptWatcher::~InterruptWatcher()
{
    if (!watching)
        return;
    for (int signalNumber : watchedSignals)
        setHandler(signalNumber, SIG_DFL);
    delete notifier;
    notifier = nullptr;
    ::close(sockets[0]);
    ::close(sockets[1]);
    sockets[0] = sockets[1] = -1;
}

} // namespace PelkPlus
