#include "cli/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

namespace PelkPlus {

std::FILE* StandardStreams::takeStandardOutput()
{
    const int results = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (results < 0 || null < 0)
        return stdout;
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    ::fcntl(results, F_SETFD, FD_CLOEXEC);
    return ::fdopen(results, "w");
}

void StandardStreams::sendStandardOutputToError()
{
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

bool StandardStreams::isTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream));
}

bool StandardStreams::isErrorTerminal()
{
    return ::isatty(STDERR_FILENO);
}

} // namespace PelkPlus
