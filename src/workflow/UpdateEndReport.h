#pragma once

#include "workflow/UpdateFailure.h"
#include "workflow/UpdateOutcome.h"

#include <QObject>

#include <functional>
#include <optional>

class QState;

namespace PelkPlus {

// How an update ends, told once per update that began: the step that ends it names the outcome;
// anything else that leaves updatingState (a failed download or install, a lost device, a failed
// restart) is a failure. The end is told once the workflow rests again, so that the plan a face
// then reads is the one made against the restarted device. It follows the machine's states by
// name and reads the failure noted so far; what it finds it tells through its own signals.
class UpdateEndReport : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateEndReport)

public:
    // lastFailure gives the failure noted so far, deviceHere whether a device is still selected.
    UpdateEndReport(std::function<UpdateFailure()> lastFailure, std::function<bool()> deviceHere,
        QObject* parent = nullptr);
    ~UpdateEndReport() override;

    // Follows the update's state among the regions; connected before the faces hear of the states.
    void followUpdate(const QState* regions);
    // Tells the end as the workflow rests; connected after the faces hear of the states.
    void reportWhenResting(const QState* regions);
    // A step named how the update ends: it finished, the device did not take a component, or only
    // another device came back (which stops an update only while one runs).
    void nameOutcome(UpdateOutcome named);
    // The outcome of an update still running as the workflow goes; none when none runs.
    std::optional<UpdateOutcome> endAtExit();
    // Whether the cause of a failure is known; while it is not, the end waits for reportDue().
    void setCauseKnown(std::function<bool()> known) { causeKnown = std::move(known); }
    // Tells an end that waited for its cause.
    void reportDue() { report(); }

signals:
    // An update ended, once per update that began.
    void updateEnded(PelkPlus::UpdateOutcome outcome);
    // The failure no step named, noted before the end is told.
    void failureNoted(PelkPlus::UpdateFailure failure);

private:
    void report();
    void emitEnd();

    std::function<UpdateFailure()> lastFailure;
    std::function<bool()> deviceHere;
    // Between the entry of updatingState and the report of its end.
    bool running = false;
    // updatingState was left; the end is told once the workflow rests.
    bool endDue = false;
    UpdateOutcome outcome = UpdateOutcome::Failed;
    std::function<bool()> causeKnown;
};

} // namespace PelkPlus
