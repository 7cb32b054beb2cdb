#pragma once

namespace PelkPlus {

// What the computer runs on, as the system's power service tells it. A laptop that runs out of
// battery in the middle of a flash leaves the device without its firmware, so an update asks first
// when the charge is low and nothing is charging it.
class PowerStatus
{
public:
    struct Reading
    {
        // Whether a power service answered at all; nothing else is meaningful without it.
        bool known = false;
        bool onBattery = false;
        bool charging = false;
        // The charge of the batteries together, 0 to 100; below 0 when there is no battery.
        double percent = -1;
    };

    // Below this charge an update is not begun on battery without the user's say-so; what
    // firmware updaters commonly require.
    static constexpr double lowBatteryPercent = 25.0;

    virtual ~PowerStatus();

    // Asks the service now. Called on the GUI thread, so an implementation never waits long.
    virtual Reading read() = 0;

    // On battery, below lowBatteryPercent and not charging.
    static bool isLow(const Reading& reading);

    // The implementation for the platform the program runs on.
    static PowerStatus* createForPlatform();

protected:
    PowerStatus() = default;

private:
    PowerStatus(const PowerStatus&) = delete;
    PowerStatus& operator=(const PowerStatus&) = delete;
};

} // namespace PelkPlus
