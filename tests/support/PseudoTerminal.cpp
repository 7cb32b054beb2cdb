#include "support/PseudoTerminal.h"

#include <QFile>
#include <QtTest>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace PelkPlus {

namespace {

// Whatever the descriptor holds now; it does not block.
void drain(int fd, QByteArray* into)
{
    if (fd < 0)
        return;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof(buffer))) > 0)
        into->append(buffer, int(got));
}

} // namespace

PseudoTerminal::Run PseudoTerminal::run(
    const QString& program, const QStringList& arguments, int columns, bool outputToPipe, int timeoutMs)
{
    Run result;
    // Made before the fork: the child may call nothing but what a signal handler may.
    std::vector<QByteArray> words { QFile::encodeName(program) };
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int output[2] = { -1, -1 };
    if (outputToPipe && ::pipe2(output, O_CLOEXEC) != 0)
        return result;
    winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        if (outputToPipe)
            ::dup2(output[1], STDOUT_FILENO);
        ::execv(argv.front(), argv.data());
        ::_exit(127);
    }
    if (output[1] >= 0)
        ::close(output[1]);
    if (child < 0) {
        if (output[0] >= 0)
            ::close(output[0]);
        return result;
    }
    ::fcntl(terminal, F_SETFL, ::fcntl(terminal, F_GETFL) | O_NONBLOCK);
    if (output[0] >= 0)
        ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);

    int status = 0;
    // Read all along: a terminal nobody reads fills, and the program then waits on it.
    const bool ended = QTest::qWaitFor(
        [&] {
            drain(terminal, &result.terminal);
            drain(output[0], &result.output);
            return ::waitpid(child, &status, WNOHANG) == child;
        },
        timeoutMs);
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    drain(terminal, &result.terminal);
    drain(output[0], &result.output);
    ::close(terminal);
    if (output[0] >= 0)
        ::close(output[0]);
    result.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

QList<QByteArray> PseudoTerminal::drawnLines(const QByteArray& terminal)
{
    QByteArray text = terminal;
    text.replace("\x1b[K", "");
    // The terminal ends each line with "\r\n"; any other carriage return begins a redraw.
    text.replace("\r\n", "\n");
    QList<QByteArray> drawn;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> redraws = line.split('\r');
        for (int i = 1; i < redraws.size(); ++i)
            drawn.append(redraws.at(i));
    }
    return drawn;
}

} // namespace PelkPlus
