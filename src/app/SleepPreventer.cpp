#include "app/SleepPreventer.h"

// The platform's implementation is chosen by the build, which compiles only its source.
#if defined(PELK_SLEEP_PREVENTER_WIN)
#include "app/SleepPreventerWin.h"
#elif defined(PELK_SLEEP_PREVENTER_LOGIND)
#include "app/SleepPreventerLogind.h"
#else
#include "app/SleepPreventerNone.h"
#endif

namespace PelkPlus {

SleepPreventer::~SleepPreventer() = default;

SleepPreventer* SleepPreventer::createForPlatform()
{
#if defined(PELK_SLEEP_PREVENTER_WIN)
    return new SleepPreventerWin;
#elif defined(PELK_SLEEP_PREVENTER_LOGIND)
    return new SleepPreventerLogind;
#else
    return new SleepPreventerNone;
#endif
}

} // namespace PelkPlus
