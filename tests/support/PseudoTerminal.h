#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace PelkPlus {

// A program run in a terminal window of a given width, as a person runs it: standard input and
// standard error are a pseudo-terminal, and so is standard output unless it is asked to be a pipe
// ("pelk-cli update | tee log"). What it writes is gathered while the test's event loop runs, so
// that a server in the test goes on answering.
class PseudoTerminal
{
public:
    struct Run
    {
        int exitCode = -1;
        // Everything written to the terminal, line ends as the terminal gives them ("\r\n").
        QByteArray terminal;
        // Standard output, when it is a pipe.
        QByteArray output;
    };

    // Killed after timeoutMs; its exit code is -1 then, or when it does not end normally.
    static Run run(
        const QString& program, const QStringList& arguments, int columns, bool outputToPipe, int timeoutMs);
    // The lines drawn again in place: every stretch after a carriage return that ends no line,
    // with the clearing to the end of the line taken out.
    static QList<QByteArray> drawnLines(const QByteArray& terminal);
};

} // namespace PelkPlus
