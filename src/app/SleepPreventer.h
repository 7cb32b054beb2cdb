#pragma once

class QString;

namespace PelkPlus {

// Keeps the operating system from going to sleep while an update runs. Switching on and off must
// happen on the same thread: some systems tie the request to the thread that made it.
class SleepPreventer
{
public:
    virtual ~SleepPreventer();

    // Asks the system to stay awake (on) or withdraws the request. Whether the system agreed is
    // read with isPreventingSleep(); a refusal is not an error.
    virtual void setPreventSleep(bool on) = 0;
    virtual bool isPreventingSleep() const = 0;

    // Why the computer is kept awake, where the system shows it.
    static QString reasonText();

    // The implementation for the platform the program runs on.
    static SleepPreventer* createForPlatform();

protected:
    SleepPreventer() = default;

private:
    SleepPreventer(const SleepPreventer&) = delete;
    SleepPreventer& operator=(const SleepPreventer&) = delete;
};

} // namespace PelkPlus
