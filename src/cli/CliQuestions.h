#pragma once

#include "workflow/WorkflowQuestions.h"

#include <QStringList>

#include <utility>

namespace PelkPlus {

class CliOutput;

// The workflow's questions answered without anyone to ask: the command line has given every
// answer already, so a question that would need a person is declined, and a critical message is
// written as an error.
class CliQuestions : public WorkflowQuestions
{
public:
    explicit CliQuestions(CliOutput* output);

    QString openFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString textInput(const QString& title, const QString& label, const QString& text, bool* ok) override;
    // Goes on only when the command line said so beforehand (--yes with --ignore-power); a refusal
    // is written as an error and remembered.
    bool confirm(const QString& title, const QString& text) override;
    // No: what such a question would ask the command line settles before the workflow asks it
    // (--allow-unsigned is handed to the workflow as a consent of its own).
    bool ask(const QString& title, const QString& text) override;
    void critical(const QString& title, const QString& text) override;
    bool openUrl(const QUrl& url) override;
    void quitApplication() override;

    // The titles of the critical messages written so far.
    QStringList criticalTitles() const { return titles; }
    void setConfirmed(bool confirmed) { goOn = confirmed; }
    // Whether a warning was declined since the last call.
    bool takeDeclined() { return std::exchange(declined, false); }
    // The refusal of an update that a warning asked about.
    static QString refusalText(const QString& title, const QString& text);

private:
    CliOutput* cliOutput;
    QStringList titles;
    bool goOn = false;
    bool declined = false;
};

} // namespace PelkPlus
