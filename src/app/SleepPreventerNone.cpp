#include "app/SleepPreventerNone.h"

namespace PelkPlus {

SleepPreventerNone::~SleepPreventerNone() = default;

void SleepPreventerNone::setPreventSleep(bool) { }

bool SleepPreventerNone::isPreventingSleep() const
{
    return false;
}

} // namespace PelkPlus
