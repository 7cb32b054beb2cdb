#include "app/SleepPreventer.h"

// The platform's implementation is chosen by the build, which compiles only its sources.
#if defined(PELK_SLEEP_PREVENTER_WIN)
#include "app/SleepPreventerWin.h"
#elif defined(PELK_SLEEP_PREVENTER_LOGIND)
#include "app/SleepPreventerGroup.h"
#include "app/SleepPreventerLogind.h"
#include "app/SleepPreventerPortal.h"
#else
#include "app/SleepPreventerNone.h"
#endif

#include <QString>

namespace PelkPlus {

SleepPreventer::~SleepPreventer() = default;

QString SleepPreventer::reasonText()
{
    return QStringLiteral("Updating a Pelk device");
}

SleepPreventer* SleepPreventer::createForPlatform()
{
#if defined(PELK_SLEEP_PREVENTER_WIN)
    return new SleepPreventerWin;
#elif defined(PELK_SLEEP_PREVENTER_LOGIND)
    // The login manager keeps the machine up; the desktop has its own automatic suspend, and is
    // the one left to ask inside a sandbox, where the system bus is out of reach.
    return new SleepPreventerGroup({ new SleepPreventerLogind, new SleepPreventerPortal });
#else
    return new SleepPreventerNone;
#endif
}

} // namespace PelkPlus
