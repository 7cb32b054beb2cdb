#pragma once

#include <QObject>

class QSocketNotifier;

namespace PelkPlus {

// Turns SIGINT, SIGTERM and SIGHUP into a signal of the event loop: the handler only writes to a
// socket, and the loop reads it, so whatever is done about the interruption runs as ordinary code
// (an update stopped after its current packet, its journal and history written). One watcher per
// process; where there are no such signals (Windows) it watches nothing.
class InterruptWatcher : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InterruptWatcher)

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    // Gives the signals back their default action.
    ~InterruptWatcher() override;

    bool isWatching() const { return notifier != nullptr; }

signals:
    void interrupted(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* notifier = nullptr;
};

} // namespace PelkPlus
