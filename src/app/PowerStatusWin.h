#pragma once

#include "app/PowerStatus.h"

namespace PelkPlus {

// The computer's power as Windows' power manager tells it (GetSystemPowerStatus): on the mains or
// on battery, charging, and the batteries' charge together. A call that returns at once.
class PowerStatusWin : public PowerStatus
{
public:
    PowerStatusWin() = default;
    ~PowerStatusWin() override;

    Reading read() override;
};

} // namespace PelkPlus
