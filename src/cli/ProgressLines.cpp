#include "cli/ProgressLines.h"

#include "cli/CliOutput.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowNotifier.h"

#include <utility>

namespace PelkPlus {

ProgressLines::ProgressLines(UpdateWorkflow* workflow, CliOutput* output, bool downloads, QObject* parent)
    : QObject(parent)
    , workflow(workflow)
    , cliOutput(output)
    , downloading(downloads)
{
    connect(workflow, &WorkflowNotifier::componentTextChanged, this, &ProgressLines::onComponentText);
    connect(workflow, &WorkflowNotifier::downloadTextChanged, this,
        [this](const QString& text) { downloadText = text; });
    connect(workflow, &WorkflowNotifier::installTextChanged, this,
        [this](const QString& text) { installText = text; });
    connect(workflow, &WorkflowNotifier::downloadProgressChanged, this, &ProgressLines::onDownloadProgress);
    connect(workflow, &WorkflowNotifier::installProgressChanged, this, &ProgressLines::onInstallProgress);
    connect(workflow->progressClock(), &UpdateProgressClock::progressChanged, this,
        &ProgressLines::onOverallProgress);
}

ProgressLines::~ProgressLines() = default;

void ProgressLines::onComponentText(const QString& text)
{
    cliOutput->info(text);
}

// A bar at 0 is only the reset before a step; the first bar is drawn once the step has begun.
void ProgressLines::onDownloadProgress(int percent)
{
    // A file from this computer is not downloaded: its step is done at once.
    if (!downloading)
        return;
    if (percent > 0 && following && step == WorkflowPhase::Downloading && !downloadText.isEmpty())
        cliOutput->progress(downloadText, percent);
}

void ProgressLines::onInstallProgress(int percent)
{
    installPercent = percent;
    if (percent <= 0 || !following || step != WorkflowPhase::Installing || installText.isEmpty())
        return;
    // The workflow's text, which for DSP firmware also names the size of the text file listed.
    const QString& label = installText;
    // The whole update's text goes first where both do not fit the terminal: the step's own is
    // what the bar measures.
    const QString both = label + QStringLiteral(" - ") + overallText;
    const bool fits = both.size() <= cliOutput->progressLabelWidth();
    cliOutput->progress(overallText.isEmpty() || !cliOutput->terminal() || !fits ? label : both, percent);
}

void ProgressLines::onOverallProgress(const QString& text)
{
    const int component = workflow->progressClock()->component();
    const bool componentChanged = component != std::exchange(overallComponent, component);
    overallText = text;
    if (!following || text.isEmpty())
        return;
    // Off a terminal a line for every beat would bury the rest: one as each component begins.
    if (!cliOutput->terminal()) {
        if (componentChanged)
            cliOutput->info(text);
        return;
    }
    switch (step) {
    case WorkflowPhase::Installing:
        onInstallProgress(installPercent);
        break;
    case WorkflowPhase::AwaitingUpdateMode:
    case WorkflowPhase::AwaitingFinish:
    case WorkflowPhase::AwaitingPowerCycle:
    case WorkflowPhase::AwaitingReboot:
        cliOutput->progress(text, workflow->progressClock()->percent());
        break;
    default:
        break;
    }
}

} // namespace PelkPlus
