#include "cli/CliQuestions.h"

#include "cli/CliOutput.h"

namespace PelkPlus {

CliQuestions::CliQuestions(CliOutput* output)
    : m_output(output)
{ }

QString CliQuestions::openFileName(const QString&, const QString&, const QString&)
{
    return QString();
}

QString CliQuestions::textInput(const QString&, const QString&, const QString&, bool* ok)
{
    *ok = false;
    return QString();
}

void CliQuestions::critical(const QString& title, const QString& text)
{
    m_titles.append(title);
    m_output->error(
        title.isEmpty() ? text : title + QStringLiteral(": ") + text, CliOutput::errorKindForTitle(title));
}

bool CliQuestions::openUrl(const QUrl&)
{
    return false;
}

void CliQuestions::quitApplication() { }

} // namespace PelkPlus
