#pragma once

namespace PelkPlus {

// How a transfer reports progress; a nonzero return asks the transfer to stop.
struct ProgressHandler
{
    int (*function)(float fraction, long total, void* context) = nullptr;
    void* context = nullptr;
    // How a transfer waits while the device is busy (the pause after each flash sector). Returns
    // nonzero when the wait was cut short by a stop request, which ends the transfer at once. A
    // transfer without one sleeps through the whole wait.
    int (*pause)(int milliseconds, void* context) = nullptr;
};

} // namespace PelkPlus
