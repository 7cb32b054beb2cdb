#pragma once

#include "app/SleepPreventer.h"

namespace PelkPlus {

// Keeps Windows awake through the power manager's execution state of the calling thread. The
// display may still blank; only the system is kept running.
class SleepPreventerWin : public SleepPreventer
{
public:
    SleepPreventerWin() = default;
    ~SleepPreventerWin() override;

    void setPreventSleep(bool on) override;
    bool isPreventingSleep() const override;

private:
    // The system accepted the request and it has not been withdrawn.
    bool active = false;
};

} // namespace PelkPlus
