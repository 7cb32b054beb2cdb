#include "app/PowerStatus.h"

// The platform's implementation is chosen by the build, which compiles only its source.
#if defined(PELK_POWER_STATUS_UPOWER)
#include "app/PowerStatusUPower.h"
#elif defined(PELK_POWER_STATUS_WIN)
#include "app/PowerStatusWin.h"
#else
#include "app/PowerStatusNone.h"
#endif

namespace PelkPlus {

PowerStatus::~PowerStatus() = default;

bool PowerStatus::isLow(const Reading& reading)
{
    return reading.known && reading.onBattery && !reading.charging && reading.percent >= 0
        && reading.percent < lowBatteryPercent;
}

PowerStatus* PowerStatus::createForPlatform()
{
#if defined(PELK_POWER_STATUS_UPOWER)
    return new PowerStatusUPower;
#elif defined(PELK_POWER_STATUS_WIN)
    return new PowerStatusWin;
#else
    return new PowerStatusNone;
#endif
}

} // namespace PelkPlus
