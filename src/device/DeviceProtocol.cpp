#include "device/DeviceProtocol.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace PelkPlus {

namespace {

constexpr long maxTimeScale = 100;

int scaleFromEnvironment()
{
#ifndef PELK_TEST_CLOCK
    return 1;
#else
    const char* text = std::getenv("PELK_TEST_TIME_SCALE");
    if (!text || !*text)
        return 1;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > maxTimeScale) {
        std::fprintf(stderr,
            "PELK_TEST_TIME_SCALE=%s is not a whole number from 1 to %ld: the protocol runs in real time.\n",
            text, maxTimeScale);
        return 1;
    }
    return int(value);
#endif
}

} // namespace

int DeviceProtocol::timeScale()
{
    // Read once: every wait of a run is on the same clock, whichever thread asks first.
    static const int scale = scaleFromEnvironment();
    return scale;
}

int DeviceProtocol::scaled(int ms)
{
    const int scale = timeScale();
    if (scale == 1 || ms <= 0)
        return ms;
    return ms / scale > 0 ? ms / scale : 1;
}

} // namespace PelkPlus
