#pragma once

namespace PelkPlus {

// How a transfer reports progress; a nonzero return asks the transfer to stop.
struct ProgressHandler
{
    int (*function)(float fraction, long total, void* context) = nullptr;
    void* context = nullptr;
};

} // namespace PelkPlus
