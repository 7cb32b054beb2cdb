#pragma once

#include "workflow/UpdateOutcome.h"

#include <QObject>

#include <functional>
#include <optional>

namespace PelkPlus {

class UpdateWorkflow;

// How an update ends, told once per update that began: the step that ends it names the outcome;
// anything else that leaves updatingState (a failed download or install, a lost device, a failed
// restart) is a failure. The end is told once the workflow rests again, so that the plan a face
// then reads is the one made against the restarted device.
class UpdateEndReport : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateEndReport)

public:
    explicit UpdateEndReport(UpdateWorkflow& workflow);
    ~UpdateEndReport() override;

    // Follows the steps that name the outcome; connected before the faces hear of the states.
    void followUpdate();
    // Tells the end as the workflow rests; connected after the faces hear of the states.
    void reportWhenResting();
    // The outcome of an update still running as the workflow goes; none when none runs.
    std::optional<UpdateOutcome> endAtExit();
    // Whether the cause of a failure is known; while it is not, the end waits for reportDue().
    void setCauseKnown(std::function<bool()> known) { causeKnown = std::move(known); }
    // Tells an end that waited for its cause.
    void reportDue() { report(); }

private:
    void report();
    void emitEnd();

    UpdateWorkflow& workflow;
    // Between the entry of updatingState and the report of its end.
    bool running = false;
    // updatingState was left; the end is told once the workflow rests.
    bool endDue = false;
    UpdateOutcome outcome = UpdateOutcome::Failed;
    std::function<bool()> causeKnown;
};

} // namespace PelkPlus
