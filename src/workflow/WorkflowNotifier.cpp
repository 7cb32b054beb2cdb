#include "workflow/WorkflowNotifier.h"

namespace PelkPlus {

WorkflowNotifier::WorkflowNotifier(QObject* parent)
    : QObject(parent)
{
    // For queued connections and signal spies.
    qRegisterMetaType<WorkflowPhase>("PelkPlus::WorkflowPhase");
    qRegisterMetaType<UpdateOutcome>("PelkPlus::UpdateOutcome");
}

WorkflowNotifier::~WorkflowNotifier() = default;

} // namespace PelkPlus
