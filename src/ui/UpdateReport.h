#pragma once

#include "workflow/UpdateOutcome.h"
#include "workflow/WorkflowPhase.h"

#include <QObject>
#include <QString>

namespace PelkPlus {

class UpdateWorkflow;

// Follows each update through the phases the workflow tells and says, once it has ended, what the
// user is to know, in the engine's words: what was installed and verified, or what was not
// installed, why, and what to do next.
class UpdateReport : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateReport)

public:
    explicit UpdateReport(UpdateWorkflow* engine, QObject* parent = nullptr);
    ~UpdateReport() override;

    // What the lasting strip says after an update that did not end well.
    static QString failureText(const UpdateWorkflow& workflow);
    // What the list says of the update once its device is back: the next step is done.
    static QString backText(const UpdateWorkflow& workflow);
    // Whether the last update ended while a file was on its way to the device.
    bool transferInterrupted() const { return interrupted; }
    // The components of the last update that began.
    int componentCount() const { return components; }

signals:
    // An update ended; text says how, to be shown with mode (a MessageMode), or is empty.
    void ended(PelkPlus::UpdateOutcome outcome, int mode, const QString& text);

private:
    void onPhaseChanged(WorkflowPhase phase);
    void onUpdateEnded(UpdateOutcome outcome);

    UpdateWorkflow* workflow = nullptr;
    bool running = false;
    int components = 0;
    // The last phase of the update itself; the plan made again after it is not part of it.
    WorkflowPhase lastUpdatePhase = WorkflowPhase::Updating;
    bool interrupted = false;
};

} // namespace PelkPlus
