#include "cli/StandardStreams.h"

#include <fcntl.h>
#include <sys/ioctl.h>
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

bool StandardStreams::isInputTerminal()
{
    return ::isatty(STDIN_FILENO);
}

int StandardStreams::columns(std::FILE* stream)
{
    winsize size {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return defaultColumns;
}

} // namespace PelkPlus
