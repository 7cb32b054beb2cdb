#pragma once

#include <cstdio>

namespace PelkPlus {

// pelk-cli's standard streams: the process's standard output carries the diagnostic log and the
// device layer's trace, so the command's own output goes to a copy of it taken first. The calls
// are the platform's (StandardStreamsPosix.cpp, StandardStreamsWin.cpp).
class StandardStreams
{
public:
    // A stream on a copy of standard output, which itself is pointed at the null device;
    // standard output itself when no copy could be taken.
    static std::FILE* takeStandardOutput();
    // Points standard output at standard error: the log is then shown, not silenced.
    static void sendStandardOutputToError();
    static bool isTerminal(std::FILE* stream);
    static bool isErrorTerminal();
    static bool isInputTerminal();
    // The width of the terminal the stream is on, in columns; defaultColumns when it is on none or
    // the system does not say. Read again at each call, so a resized window is followed.
    static int columns(std::FILE* stream);

    static constexpr int defaultColumns = 80;
};

} // namespace PelkPlus
