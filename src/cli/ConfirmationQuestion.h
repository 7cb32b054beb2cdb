#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace PelkPlus {

class CliOutput;

// A yes-or-no question on the person's stream, answered by a line on standard input. Standard
// input is watched by the event loop, so a Ctrl-C or the device's going away is heard while the
// question waits.
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
    void onReadable();

    CliOutput* cliOutput;
    QSocketNotifier* input = nullptr;
    QByteArray answerLine;
};

} // namespace PelkPlus
