#include "app/SleepPreventerGroup.h"

#include <algorithm>

namespace PelkPlus {

SleepPreventerGroup::SleepPreventerGroup(const std::vector<SleepPreventer*>& members)
{
    for (SleepPreventer* member : members)
        preventers.emplace_back(member);
}

SleepPreventerGroup::~SleepPreventerGroup() = default;

void SleepPreventerGroup::setPreventSleep(bool on)
{
    for (const auto& preventer : preventers)
        preventer->setPreventSleep(on);
}

bool SleepPreventerGroup::isPreventingSleep() const
{
    return std::any_of(preventers.cbegin(), preventers.cend(),
        [](const auto& preventer) { return preventer->isPreventingSleep(); });
}

} // namespace PelkPlus
