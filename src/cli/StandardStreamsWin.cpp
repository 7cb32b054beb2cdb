#include "cli/StandardStreams.h"

#include <fcntl.h>
#include <io.h>

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

} // namespace PelkPlus
