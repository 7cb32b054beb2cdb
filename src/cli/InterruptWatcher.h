#pragma once

#include <QObject>

class QSocketNotifier;

namespace PelkPlus {

// Turns SIGINT and SIGTERM into a signal of the event loop: the handler only writes to a socket,
// and the loop reads it, so whatever is done about the interruption runs as ordinary code.
// One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InterruptWatcher)

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    // Gives both signals back their default action.
    ~InterruptWatcher() override;

    bool isWatching() const { return notifier != nullptr; }

signals:
    void interrupted(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* notifier = nullptr;
};

} // namespace PelkPlus
