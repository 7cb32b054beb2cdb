#pragma once

#include <QObject>

namespace PelkPlus {

class CliOutput;
class StandardInputLine;

// A yes-or-no question on the person's stream, answered by a line on standard input, read without
// holding up the event loop (StandardInputLine), so a Ctrl-C or the device's going away is heard
// while the question waits.
class ConfirmationQuestion : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ConfirmationQuestion)

public:
    explicit ConfirmationQuestion(CliOutput* output, QObject* parent = nullptr);
    ~ConfirmationQuestion() override;

    // Writes prompt, without a line end, and waits for the line.
    void ask(const QString& prompt);
    // No answer is read any more.
    void close();

signals:
    // Once per question: yes for "y" or "yes" in any case; no for anything else, an empty line or
    // the end of standard input.
    void answered(bool yes);

private:
    CliOutput* cliOutput;
    StandardInputLine* input;
};

} // namespace PelkPlus
