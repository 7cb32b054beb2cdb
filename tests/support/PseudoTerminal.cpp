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

PseudoTerminal::Run PseudoTerminal::run(
    const QString& program, const QStringList& arguments, int columns, int timeoutMs)
{
    // Made before the fork: the child calls nothing but what a signal handler may.
    std::vector<QByteArray> words { QFile::encodeName(program) };
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    Run result;
    winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        ::execv(argv.front(), argv.data());
        ::_exit(127);
    }
    if (child < 0)
        return result;
    ::fcntl(terminal, F_SETFL, ::fcntl(terminal, F_GETFL) | O_NONBLOCK);
    // Read all along: a terminal nobody reads fills, and the program then waits on it.
    const auto drain = [&] {
        char buffer[4096];
        for (ssize_t got; (got = ::read(terminal, buffer, sizeof(buffer))) > 0;)
            result.written.append(buffer, int(got));
    };
    int status = 0;
    const bool ended = QTest::qWaitFor(
        [&] {
            drain();
            return ::waitpid(child, &status, WNOHANG) == child;
        },
        timeoutMs);
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    drain();
    ::close(terminal);
    result.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

QList<QByteArray> PseudoTerminal::redrawnLines(const QByteArray& written)
{
    QByteArray text = written;
    text.replace("\x1b[K", "").replace("\r\n", "\n");
    QList<QByteArray> redrawn;
    for (const QByteArray& line : text.split('\n'))
        redrawn += line.split('\r').mid(1);
    return redrawn;
}

} // namespace PelkPlus
