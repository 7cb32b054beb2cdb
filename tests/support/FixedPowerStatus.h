#pragma once

#include "app/PowerStatus.h"

namespace PelkPlus {

// The computer's power as a test sets it, counting how often it was read.
class FixedPowerStatus : public PowerStatus
{
public:
    Reading read() override
    {
        ++reads;
        return reading;
    }

    // On battery at the charge, with nothing charging it.
    void setBattery(double percent)
    {
        reading.known = true;
        reading.onBattery = true;
        reading.percent = percent;
    }

    Reading reading;
    int reads = 0;
};

} // namespace PelkPlus
