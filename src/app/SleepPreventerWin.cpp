#include "app/SleepPreventerWin.h"

#include <windows.h>

namespace PelkPlus {

SleepPreventerWin::~SleepPreventerWin()
{
    // The request belongs to the thread; withdraw it rather than leave it to the thread's end.
    setPreventSleep(false);
}

void SleepPreventerWin::setPreventSleep(bool on)
{
    if (on == active)
        return;
    if (on) {
        if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED) != 0)
            active = true;
    } else {
        if (SetThreadExecutionState(ES_CONTINUOUS) != 0)
            active = false;
    }
}

bool SleepPreventerWin::isPreventingSleep() const
{
    return active;
}

} // namespace PelkPlus
