#pragma once

namespace PelkPlus {

// The retries of one request, after a connection error, a time-out or a server error: at most
// maximumRetries, each after a pause that starts at the first pause and doubles before each
// further one (1 s, 2 s, 4 s by default). Downloads and the check's size requests both follow it.
class RetryBackoff
{
public:
    static constexpr int maximumRetries = 3;
    static constexpr int defaultFirstPause = 1000;

    // Takes the next retry and returns the pause before it in ms, or -1 once every retry has been
    // taken (nothing is taken then).
    int next(int firstPauseMs);
    // The retries taken so far: 1 for the first.
    int retriesTaken() const { return taken; }
    void reset() { taken = 0; }

private:
    int taken = 0;
};

} // namespace PelkPlus
