#pragma once

#include "workflow/WorkflowPhase.h"

#include <QObject>
#include <QString>

namespace PelkPlus {

class CliOutput;
class UpdateWorkflow;

// The progress of an update as pelk-cli draws it: the heading of each component, the download's
// and the install's bars, and the whole update's line. On a terminal the bar is redrawn at every
// beat, within the terminal's width; elsewhere a line for every beat would bury the rest, so the
// whole update's line is written once as each component begins, and each bar only at its quarters.
class ProgressLines : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ProgressLines)

public:
    // downloads: false for a file from this computer, which is not downloaded.
    ProgressLines(UpdateWorkflow* workflow, CliOutput* output, bool downloads, QObject* parent = nullptr);
    ~ProgressLines() override;

    // Bars are drawn only while the update runs: from its start until the command ends.
    void setFollowing(bool follow) { following = follow; }
    // The workflow's phase, which says which bar a beat belongs to.
    void setStep(WorkflowPhase phase) { step = phase; }

private:
    void onComponentText(const QString& text);
    void onDownloadProgress(int percent);
    void onInstallProgress(int percent);
    // The whole update's line: the install bar with it while a file is sent, its own bar during
    // the waits, redrawn at every beat on a terminal.
    void onOverallProgress(const QString& text);

    UpdateWorkflow* workflow;
    CliOutput* cliOutput;
    bool downloading;
    bool following = false;
    WorkflowPhase step = WorkflowPhase::NoDevice;
    QString downloadText;
    QString installText;
    QString overallText;
    int overallComponent = -1;
    int installPercent = 0;
};

} // namespace PelkPlus
