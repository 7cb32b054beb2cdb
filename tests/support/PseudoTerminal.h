#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace PelkPlus {

// A program run in a terminal window of a given width, as a person runs it: its standard streams
// are a pseudo-terminal, read while the test's event loop runs, so that a server in the test goes
// on answering.
class PseudoTerminal
{
public:
    struct Run
    {
        // -1 when it did not end normally within the time given, and was killed.
        int exitCode = -1;
        // Everything written to the terminal, its line ends as the terminal gives them ("\r\n").
        QByteArray written;
    };

    static Run run(const QString& program, const QStringList& arguments, int columns, int timeoutMs);
    // The lines drawn again in place: every stretch after a carriage return that ends no line,
    // with the clearing to the end of the line taken out.
    static QList<QByteArray> redrawnLines(const QByteArray& written);
};

} // namespace PelkPlus
