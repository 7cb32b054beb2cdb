#pragma once

#include <QString>

class QUrl;

namespace PelkPlus {

// What the workflow asks of whoever drives it: a window answers with dialogs, a command line with
// its arguments or a prompt, a test from a script. Every call blocks until it has its answer.
class WorkflowQuestions
{
public:
    virtual ~WorkflowQuestions() = default;

    // An existing file to open; empty when cancelled.
    virtual QString openFileName(const QString& caption, const QString& directory, const QString& filter) = 0;
    // One line of text; ok tells whether it was accepted.
    virtual QString textInput(const QString& title, const QString& label, const QString& text, bool* ok) = 0;
    // A warning that asks whether to go on; true to continue, false to stop.
    virtual bool confirm(const QString& title, const QString& text) = 0;
    // A question answered Yes or No; No is the default, and the answer unless Yes is chosen.
    virtual bool ask(const QString& title, const QString& text) = 0;
    // A critical message that must be acknowledged before the workflow goes on.
    virtual void critical(const QString& title, const QString& text) = 0;
    // Opens a URL with the desktop's default handler; false when that failed.
    virtual bool openUrl(const QUrl& url) = 0;
    virtual void quitApplication() = 0;
};

} // namespace PelkPlus
