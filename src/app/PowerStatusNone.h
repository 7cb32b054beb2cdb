#pragma once

#include "app/PowerStatus.h"

namespace PelkPlus {

// For systems whose power service the updater does not know: nothing is known, so nothing is
// asked before an update.
class PowerStatusNone : public PowerStatus
{
public:
    PowerStatusNone() = default;
    ~PowerStatusNone() override;

    Reading read() override;
};

} // namespace PelkPlus
