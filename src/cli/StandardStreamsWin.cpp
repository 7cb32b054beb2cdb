#include "cli/StandardStreams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace PelkPlus {

std::FILE* StandardStreams::takeStandardOutput()
{
    std::fflush(stdout);
    const int results = ::_dup(_fileno(stdout));
    const int null = ::_open("NUL", _O_WRONLY | _O_NOINHERIT);
    if (results < 0 || null < 0)
        return stdout;
    ::_dup2(null, _fileno(stdout));
    ::_close(null);
    // Binary: the command's lines end as they are written, as on the other systems.
    ::_setmode(results, _O_BINARY);
    return ::_fdopen(results, "wb");
}

void StandardStreams::sendStandardOutputToError()
{
    std::fflush(stdout);
    ::_dup2(_fileno(stderr), _fileno(stdout));
}

bool StandardStreams::isTerminal(std::FILE* stream)
{
    return ::_isatty(_fileno(stream));
}

bool StandardStreams::isErrorTerminal()
{
    return ::_isatty(_fileno(stderr));
}

bool StandardStreams::isInputTerminal()
{
    return ::_isatty(_fileno(stdin));
}

int StandardStreams::columns(std::FILE* stream)
{
    // The copy of standard output is a duplicate of the console's handle, which answers as well.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleScreenBufferInfo(handle, &info)) {
        // The visible window, not the buffer, which is often far wider.
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 0)
            return width;
    }
    return defaultColumns;
}

} // namespace PelkPlus
