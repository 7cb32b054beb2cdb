#include "app/PowerStatusWin.h"

#include <windows.h>

namespace PelkPlus {

PowerStatusWin::~PowerStatusWin() = default;

PowerStatus::Reading PowerStatusWin::read()
{
    Reading reading;
    SYSTEM_POWER_STATUS status {};
    if (!GetSystemPowerStatus(&status))
        return reading;
    reading.known = true;
    // 255 is "unknown" in each field; a machine that cannot tell is taken as on the mains.
    reading.onBattery = status.ACLineStatus == 0;
    constexpr BYTE noBattery = 128, charging = 8, unknownFlags = 255;
    const bool hasBattery = status.BatteryFlag != unknownFlags && !(status.BatteryFlag & noBattery);
    reading.charging = hasBattery && (status.BatteryFlag & charging);
    if (hasBattery && status.BatteryLifePercent <= 100)
        reading.percent = status.BatteryLifePercent;
    return reading;
}

} // namespace PelkPlus
