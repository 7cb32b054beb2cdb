#include "device/InterruptsBlocked.h"

#if defined(Q_OS_UNIX) || defined(__unix__)
#include <pthread.h>
#endif

namespace PelkPlus {

#if defined(Q_OS_UNIX) || defined(__unix__)

InterruptsBlocked::InterruptsBlocked()
{
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
}

InterruptsBlocked::~InterruptsBlocked()
{
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

#else

InterruptsBlocked::InterruptsBlocked() = default;
InterruptsBlocked::~InterruptsBlocked() = default;

#endif

} // namespace PelkPlus
