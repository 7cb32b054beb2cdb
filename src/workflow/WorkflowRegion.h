#pragma once

#include "update/DownloadFailure.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateFailure.h"
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
class WorkflowPlan;

// The workflow region of the state machine: the check for the device's updates and the update
// itself, built from the collaborators that carry out its states' steps. Its entry actions plan
// the update and start each step; the failures its transitions take are told here, through its own
// signals. It moves on the steps of its collaborators and on the commands passed to it.
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

    explicit WorkflowRegion(const Parts& parts, QObject* parent = nullptr);
    ~WorkflowRegion() override;

    // Builds the region into the machine's parallel state, after the device region whose states
    // it follows; returns the region.
    QState* build(QState* regions);
    // The commands that move the region: check for updates, install the plan made of one
    // component, list all components, start the planned update.
    void requestCheck() { emit checkUpdatesRequest(); }
    void requestInstall() { emit forceInstallComponentRequest(); }
    void requestAllComponents() { emit forceInstallAllComponentsRequest(); }
    void requestStart() { emit updateStartRequested(); }
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

signals:
    // The requests of requestCheck() and its kin, which the region's transitions take.
    void checkUpdatesRequest();
    void forceInstallComponentRequest();
    void forceInstallAllComponentsRequest();
    void updateStartRequested();
    // The check planned something to install, or nothing.
    void updatesAvailable();
    void noUpdatesAvailable();
    // The device whose update ended while it restarted is back: what is left is planned again.
    void resumeRequested();
    // The plan, its warnings or the time of the check changed.
    void planChanged();
    // What the last failed check said; empty as a check begins.
    void checkFailureChanged(const QString& text);
    void failureNoted(PelkPlus::UpdateFailure failure);
    void messageRequested(PelkPlus::MessageKind kind, const QString& title, const QString& text);

private:
    void startUpdateCheck();
    void planUpdate(bool forceAll);
    // The device whose update ended while it restarted is back: what is left is planned again.
    void resumeIfReturned();

    Parts parts;
    QState* region = nullptr;
    // The phase of the region's state entered last.
    WorkflowPhase currentPhase = WorkflowPhase::NoDevice;
};

} // namespace PelkPlus
