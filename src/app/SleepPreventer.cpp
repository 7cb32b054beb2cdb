#include "app/SleepPreventer.h"

#include "app/SleepPreventerLogind.h"
#include "app/SleepPreventerNone.h"
#include "app/SleepPreventerWin.h"

namespace PelkPlus {

SleepPreventer::~SleepPreventer() = default;

SleepPreventer* SleepPreventer::createForPlatform()
{
#if defined(_WIN32)
    return new SleepPreventerWin;
#elif defined(QT_DBUS_LIB)
    return new SleepPreventerLogind;
#else
    return new SleepPreventerNone;
#endif
}

} // namespace PelkPlus
