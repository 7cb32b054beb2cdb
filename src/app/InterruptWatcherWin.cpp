#include "app/InterruptWatcher.h"

#include <QMetaObject>

#include <atomic>
#include <csignal>

#include <windows.h>

namespace PelkPlus {

namespace {

std::atomic<InterruptWatcher*> current { nullptr };

// Called on a thread of the console's own: the event loop is only told, by a queued call.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    int signalNumber = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signalNumber = SIGINT;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signalNumber = SIGTERM;
        break;
    default:
        return FALSE;
    }
    InterruptWatcher* watcher = current.load();
    if (!watcher)
        return FALSE;
    QMetaObject::invokeMethod(
        watcher, [watcher, signalNumber] { emit watcher->interrupted(signalNumber); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject* parent)
    : QObject(parent)
{
    InterruptWatcher* none = nullptr;
    if (!current.compare_exchange_strong(none, this))
        return;
    if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        current.store(nullptr);
        return;
    }
    watching = true;
}

InterruptWatcher::~InterruptWatcher()
{
    if (!watching)
        return;
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    current.store(nullptr);
}

} // namespace PelkPlus
