#pragma once

#include <QObject>

namespace PelkPlus {

// Turns an interruption into a signal of the event loop, so that whatever is done about it runs as
// ordinary code (an update stopped after its current packet, its journal and history written):
// SIGINT, SIGTERM and SIGHUP, whose handler only writes to a socket the loop reads
// (InterruptWatcherPosix.cpp), or the console's Ctrl+C, Ctrl+Break, close, logoff and shutdown,
// told by the console's handler thread as a queued call (InterruptWatcherWin.cpp, as SIGINT and
// SIGTERM). One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InterruptWatcher)

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    // Gives the interruptions back their default action.
    ~InterruptWatcher() override;

    bool isWatching() const { return watching; }

signals:
    void interrupted(int signalNumber);

private:
    bool watching = false;
};

} // namespace PelkPlus
