#pragma once

#include "workflow/WorkflowQuestions.h"

#include <QObject>

class QWidget;

namespace PelkPlus {

class DialogProvider;
class UpdateWorkflow;

// The window's dialogs: the workflow's questions, the question before quitting during an update,
// the offer of a newer updater, About, the update history, the log folder and the diagnostics
// report. All go through one replaceable DialogProvider, so that tests answer them from a script.
class WindowDialogs : public QObject, public WorkflowQuestions
{
    Q_OBJECT
    Q_DISABLE_COPY(WindowDialogs)

public:
    // The dialogs are shown over window, which also owns this object.
    WindowDialogs(UpdateWorkflow* engine, QWidget* window);
    ~WindowDialogs() override;

    // Replaces the provider; takes ownership.
    void setDialogProvider(DialogProvider* provider);
    // Asks before quitting while an update runs; true when the application may quit.
    bool confirmQuit();

    void offerAppUpdate(const QString& version);
    void about();
    void showUpdateHistory();
    void showLogFolder();
    void saveDiagnosticsReport();

    // The workflow's questions, answered with the provider's dialogs.
    QString openFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString textInput(const QString& title, const QString& label, const QString& text, bool* ok) override;
    bool confirm(const QString& title, const QString& text) override;
    bool ask(const QString& title, const QString& text) override;
    void critical(const QString& title, const QString& text) override;
    bool openUrl(const QUrl& url) override;
    void quitApplication() override;

private:
    DialogProvider* dialogs();

    UpdateWorkflow* workflow = nullptr;
    QWidget* dialogParent = nullptr;
    DialogProvider* dialogProvider = nullptr;
};

} // namespace PelkPlus
