#include "cli/CliQuestions.h"

#include "cli/CliOutput.h"
#include "workflow/UpdateFailure.h"

namespace PelkPlus {

CliQuestions::CliQuestions(CliOutput* output)
    : cliOutput(output)
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

bool CliQuestions::confirm(const QString& title, const QString& text)
{
    if (goOn) {
        cliOutput->info(title + QStringLiteral(": ") + text.section(QLatin1Char('\n'), 0, 0)
            + QStringLiteral(" Going on as --ignore-power asks."));
        return true;
    }
    declined = true;
    cliOutput->error(refusalText(title, text), QLatin1String(updateFailureName(UpdateFailure::Power)));
    return false;
}

QString CliQuestions::refusalText(const QString& title, const QString& text)
{
    return title + QStringLiteral(": ") + text.section(QLatin1Char('\n'), 0, 0)
        + QStringLiteral("\nNothing was sent to the device. Plug the computer in, or give both --yes and "
                         "--ignore-power to update on battery anyway.");
}

bool CliQuestions::ask(const QString&, const QString&)
{
    return false;
}

void CliQuestions::critical(const QString& title, const QString& text)
{
    titles.append(title);
    cliOutput->error(
        title.isEmpty() ? text : title + QStringLiteral(": ") + text, CliOutput::errorKindForTitle(title));
}

bool CliQuestions::openUrl(const QUrl&)
{
    return false;
}

void CliQuestions::quitApplication() { }

} // namespace PelkPlus
