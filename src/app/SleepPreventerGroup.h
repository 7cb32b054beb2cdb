#pragma once

#include "app/SleepPreventer.h"

#include <memory>
#include <vector>

namespace PelkPlus {

// Several ways of keeping the computer awake, all asked: sleep is prevented while any of them
// prevents it. Each is switched on and off in the order given.
class SleepPreventerGroup : public SleepPreventer
{
public:
    // Takes ownership of the members.
    explicit SleepPreventerGroup(const std::vector<SleepPreventer*>& members);
    ~SleepPreventerGroup() override;

    void setPreventSleep(bool on) override;
    bool isPreventingSleep() const override;

private:
    std::vector<std::unique_ptr<SleepPreventer>> preventers;
};

} // namespace PelkPlus
