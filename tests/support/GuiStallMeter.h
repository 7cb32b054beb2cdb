#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QtGlobal>

namespace PelkPlus {

// The longest time the GUI thread (where the workflow runs, with or without a window) went without
// running its event loop, measured by a timer that should fire every 50 ms.
class GuiStallMeter
{
public:
    GuiStallMeter()
    {
        QObject::connect(&timer, &QTimer::timeout, &timerContext,
            [this] { longestGap = qMax(longestGap, clock.restart()); });
        clock.start();
        timer.start(50);
    }
    // Milliseconds between two ticks at most, the 50 ms of the timer included.
    qint64 longest() const { return qMax(longestGap, clock.elapsed()); }

private:
    QObject timerContext;
    QTimer timer;
    QElapsedTimer clock;
    qint64 longestGap = 0;
};

} // namespace PelkPlus
