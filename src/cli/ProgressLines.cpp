#include "cli/ProgressLines.h"

#include "cli/CliOutput.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/UpdateProgressClock.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowNotifier.h"

#include <QRegularExpression>

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

QString ProgressLines::installLabel(const QString& installText, const Component& component)
{
    // DSP firmware is listed by the size of its text file and sent as the bytes that text spells,
    // about a fifth of it: the label says both are the one file.
    static const QRegularExpression sent(QStringLiteral("^Installing \\((\\d+) KB\\)$"));
    const QRegularExpressionMatch match = sent.match(installText);
    if (component.type != ComponentType::DspFirmware || component.size <= 0 || !match.hasMatch())
        return installText;
    return QStringLiteral("Installing (%1 KB: the %2 KB text file as bytes)")
        .arg(match.captured(1), UpdatePlanner::kilobytesText(component.size));
}

void ProgressLines::onComponentText(const QString& text)
{
    // "Updating DSP Firmware (Component 2/4)": the plan's entry being installed.
    static const QRegularExpression counted(QStringLiteral("\\(Component (\\d+)/\\d+\\)$"));
    const QRegularExpressionMatch match = counted.match(text);
    if (match.hasMatch())
        componentIndex = match.captured(1).toInt() - 1;
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
    const QString label = installLabel(installText, workflow->plan().value(componentIndex));
    cliOutput->progress(
        overallText.isEmpty() || !cliOutput->terminal() ? label : label + QStringLiteral(" - ") + overallText,
        percent);
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
