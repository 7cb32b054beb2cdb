#include "cli/ConfirmationQuestion.h"

#include "cli/CliOutput.h"
#include "cli/StandardInputLine.h"
#include "cli/StandardStreams.h"

namespace PelkPlus {

ConfirmationQuestion::ConfirmationQuestion(CliOutput* output, QObject* parent)
    : QObject(parent)
    , cliOutput(output)
    , input(new StandardInputLine(this))
{
    connect(input, &StandardInputLine::lineRead, this, [this](const QByteArray& line) {
        // A terminal shows the line end typed; a closed or piped standard input shows nothing, and
        // the prompt's line is ended before anything else is written on it.
        cliOutput->answerRead(StandardStreams::isInputTerminal() && input->wasComplete());
        const QByteArray answer = line.trimmed().toLower();
        emit answered(answer == "y" || answer == "yes");
    });
}

ConfirmationQuestion::~ConfirmationQuestion() = default;

void ConfirmationQuestion::ask(const QString& prompt)
{
    cliOutput->prompt(prompt);
    input->start();
}

void ConfirmationQuestion::close()
{
    input->stop();
}

} // namespace PelkPlus
