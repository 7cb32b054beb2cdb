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

QString WorkflowNotifier::unverifiedCatalogueText()
{
    return QStringLiteral("The update catalogue was not verified: no catalogue signing key is trusted.");
}

QString WorkflowNotifier::sleepWarningText()
{
    return QStringLiteral("This computer may sleep during the update: keep it awake until the update ends.");
}

} // namespace PelkPlus
