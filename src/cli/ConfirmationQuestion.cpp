#include "cli/ConfirmationQuestion.h"

#include "cli/CliOutput.h"
#include "cli/StandardInputLine.h"

namespace PelkPlus {

ConfirmationQuestion::ConfirmationQuestion(CliOutput* output, QObject* parent)
    : QObject(parent)
    , cliOutput(output)
    , input(new StandardInputLine(this))
{
    connect(input, &StandardInputLine::lineRead, this, [this](const QByteArray& line) {
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
