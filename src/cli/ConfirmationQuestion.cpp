#include "cli/ConfirmationQuestion.h"

#include "cli/CliOutput.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace PelkPlus {

ConfirmationQuestion::ConfirmationQuestion(CliOutput* output, QObject* parent)
    : QObject(parent)
    , cliOutput(output)
{ }

ConfirmationQuestion::~ConfirmationQuestion() = default;

void ConfirmationQuestion::ask(const QString& prompt)
{
    cliOutput->prompt(prompt);
    input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(input, &QSocketNotifier::activated, this, &ConfirmationQuestion::onReadable);
}

void ConfirmationQuestion::close()
{
    if (input)
        input->setEnabled(false);
}

void ConfirmationQuestion::onReadable()
{
    char buffer[256];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof(buffer));
    if (got > 0) {
        answerLine.append(buffer, int(got));
        if (!answerLine.contains('\n'))
            return;
    }
    input->setEnabled(false);
    const QByteArray answer = answerLine.left(answerLine.indexOf('\n')).trimmed().toLower();
    emit answered(answer == "y" || answer == "yes");
}

} // namespace PelkPlus
