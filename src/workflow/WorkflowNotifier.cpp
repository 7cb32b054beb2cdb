#include "workflow/WorkflowNotifier.h"

namespace PelkPlus {

WorkflowNotifier::WorkflowNotifier(QObject* parent)
    : QObject(parent)
{ }

WorkflowNotifier::~WorkflowNotifier() = default;

} // namespace PelkPlus
