#pragma once

#include "app/SleepPreventer.h"

namespace PelkPlus {

// For systems the updater knows no way to keep awake: every request is refused.
class SleepPreventerNone : public SleepPreventer
{
public:
    SleepPreventerNone() = default;
    ~SleepPreventerNone() override;

    void setPreventSleep(bool on) override;
    bool isPreventingSleep() const override;
};

} // namespace PelkPlus
