#pragma once

#include "update/DownloadFailure.h"

#include "workflow/WorkflowPhase.h"

#include <QObject>

#include <functional>

class QState;

namespace PelkPlus {

class ComponentDownloads;
class DeviceMonitor;
class DeviceSelection;
class DownloadAgent;
class PlanExecution;
class UpdateManager;
class UpdateWorkflow;
class WorkflowPlan;

// The workflow region of the state machine: the check for the device's updates and the update
// itself, built from the collaborators that carry out its states' steps. Its entry actions plan
// the update and start each step; the failures its transitions take are told here.
class WorkflowRegion : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(WorkflowRegion)

public:
    struct Parts
    {
        WorkflowPlan& plan;
        DeviceSelection& selection;
        PlanExecution& execution;
        ComponentDownloads& downloads;
        DeviceMonitor* monitor;
        UpdateManager* manager;
        DownloadAgent* downloadAgent;
    };

    WorkflowRegion(UpdateWorkflow& workflow, const Parts& parts);
    ~WorkflowRegion() override;

    // Builds the region into the machine's parallel state, after the device region whose states
    // it follows; returns the region.
    QState* build(QState* regions);
    // Tells the workflow's phase as each of the region's states that has one is entered.
    void connectPhases(const std::function<void(WorkflowPhase)>& enter);

    // The text of a failed check for the device's updates, by the update manager's reason; one
    // that could not reach the catalogue's server (host:port, empty for a bundle) names it and
    // says what to try.
    static QString checkFailureText(int reason, const QString& detail, const QString& server = QString());
    // The text of a failed download of the update: the fixed text, the reason of its kind (none
    // for None) and that nothing reached the device. detail is the agent's own text, which says
    // which server was too slow.
    static QString downloadFailureText(DownloadFailure kind, const QString& detail = QString());

private:
    void startUpdateCheck();
    void planUpdate(bool forceAll);
    // The device whose update ended while it restarted is back: what is left is planned again.
    void resumeIfReturned();

    UpdateWorkflow& workflow;
    Parts parts;
};

} // namespace PelkPlus
