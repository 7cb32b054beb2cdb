#pragma once

#include "workflow/WorkflowQuestions.h"

#include <QStringList>

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
    void critical(const QString& title, const QString& text) override;
    bool openUrl(const QUrl& url) override;
    void quitApplication() override;

    // The titles of the critical messages written so far.
    QStringList criticalTitles() const { return m_titles; }

private:
    CliOutput* m_output;
    QStringList m_titles;
};

} // namespace PelkPlus
