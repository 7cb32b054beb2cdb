#pragma once

#if defined(Q_OS_UNIX) || defined(__unix__)
#include <csignal>
#endif

namespace PelkPlus {

// Blocks SIGINT and SIGTERM in the calling thread while it lives. A thread started meanwhile takes
// the blocked set with it for its whole life: the device threads are started this way, so that an
// interruption is only ever taken by the main thread and never cuts short a read of the device.
class InterruptsBlocked
{
public:
    InterruptsBlocked();
    ~InterruptsBlocked();

    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

private:
#if defined(Q_OS_UNIX) || defined(__unix__)
    sigset_t previous;
#endif
};

} // namespace PelkPlus
