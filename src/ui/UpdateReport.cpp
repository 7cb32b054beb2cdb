#include "ui/UpdateReport.h"

#include "ui/MessageBox.h"
#include "workflow/UpdateWorkflow.h"

namespace PelkPlus {

namespace {

bool isUpdatePhase(WorkflowPhase phase)
{
    switch (phase) {
    case WorkflowPhase::Updating:
    case WorkflowPhase::NextComponent:
    case WorkflowPhase::Downloading:
    case WorkflowPhase::AwaitingUpdateMode:
    case WorkflowPhase::Installing:
    case WorkflowPhase::AwaitingFinish:
    case WorkflowPhase::AwaitingPowerCycle:
    case WorkflowPhase::AwaitingReboot:
        return true;
    case WorkflowPhase::NoDevice:
    case WorkflowPhase::Connecting:
    case WorkflowPhase::NotAnswering:
    case WorkflowPhase::Idle:
    case WorkflowPhase::Checking:
    case WorkflowPhase::Planned:
        break;
    }
    return false;
}

} // namespace

UpdateReport::UpdateReport(UpdateWorkflow* engine, QObject* parent)
    : QObject(parent)
    , workflow(engine)
{
    connect(workflow, &UpdateWorkflow::phaseChanged, this, &UpdateReport::onPhaseChanged);
    connect(workflow, &UpdateWorkflow::updateEnded, this, &UpdateReport::onUpdateEnded);
    // Made before the machine connects its own transition on this signal (it does so each time the
    // download step is entered), so the failure is known here by the time its message comes.
    connect(workflow, &UpdateWorkflow::downloadFailure, this, [this] { downloadFailurePending = true; });
}

UpdateReport::~UpdateReport() = default;

QString UpdateReport::completionText(int count)
{
    return count == 1 ? QStringLiteral("Update complete: 1 component installed and verified.")
                      : QStringLiteral("Update complete: %1 components installed and verified.").arg(count);
}

QString UpdateReport::interruptedText()
{
    return QStringLiteral("The transfer to the device was interrupted. The update must be run again once "
                          "the device is back.");
}

QString UpdateReport::downloadReasonText(DownloadFailure kind)
{
    switch (kind) {
    case DownloadFailure::FileError:
        return QStringLiteral("The downloaded file could not be written on this computer.");
    case DownloadFailure::Refused:
        return QStringLiteral("The download was refused: the address is not an http or https address, or "
                              "the server did not say how large the file is.");
    case DownloadFailure::Network:
        return QStringLiteral("The server could not be reached, or the connection was lost, and trying "
                              "again did not help.");
    case DownloadFailure::Server:
        return QStringLiteral("The server answered with an error.");
    case DownloadFailure::Size:
        return QStringLiteral("The file does not have the size the catalogue gives.");
    case DownloadFailure::Digest:
        return QStringLiteral("The file is not the one the catalogue describes.");
    case DownloadFailure::None:
        break;
    }
    return QString();
}

QString UpdateReport::downloadFailureText(const QString& text, DownloadFailure kind)
{
    QString full = text;
    const QString reason = downloadReasonText(kind);
    if (!reason.isEmpty())
        full += QStringLiteral("\n\n") + reason;
    return full + QStringLiteral("\n\nNothing was sent to the device.");
}

QString UpdateReport::messageText(MessageKind kind, const QString& text)
{
    if (kind != MessageKind::Critical || !downloadFailurePending)
        return text;
    downloadFailurePending = false;
    return downloadFailureText(text, workflow->lastDownloadFailure());
}

void UpdateReport::onPhaseChanged(WorkflowPhase phase)
{
    // The download failure's message comes before the workflow moves on; after that, none is due.
    downloadFailurePending = false;
    if (phase == WorkflowPhase::Updating) {
        running = true;
        interrupted = false;
        components = workflow->plan().size();
    }
    if (running && isUpdatePhase(phase))
        lastUpdatePhase = phase;
}

void UpdateReport::onUpdateEnded(UpdateOutcome outcome)
{
    running = false;
    interrupted = outcome != UpdateOutcome::Done && lastUpdatePhase == WorkflowPhase::Installing;
    if (outcome == UpdateOutcome::Done)
        emit ended(outcome, int(MessageMode::Information), completionText(components));
    else if (interrupted)
        emit ended(outcome, int(MessageMode::Warning), interruptedText());
    else
        emit ended(outcome, int(MessageMode::Hidden), QString());
}

} // namespace PelkPlus
