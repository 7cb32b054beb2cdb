#include "workflow/WorkflowPlan.h"

#include "workflow/UpdatePlanner.h"

namespace PelkPlus {

void WorkflowPlan::reset()
{
    checkTime = QDateTime();
    planWarnings.clear();
    entries.clear();
    current = -1;
}

void WorkflowPlan::beginFetch()
{
    fetching = true;
    freshManifest = true;
}

void WorkflowPlan::setSource(const QList<Component>& components, const QDateTime& time, bool verified)
{
    source = components;
    sourceTime = time;
    sourceVerified = verified;
    freshManifest = false;
}

bool WorkflowPlan::make(const DeviceInfo& info, bool forceAll)
{
    reset();
    checkTime = sourceTime;
    const UpdatePlan plan = UpdatePlanner::plan(info, source.value_or(QList<Component>()), forceAll);
    entries = plan.components;
    planWarnings = plan.warnings;
    return !entries.isEmpty();
}

Component* WorkflowPlan::currentEntry()
{
    if (current < 0 || current >= entries.size())
        return nullptr;
    return &entries[current];
}

bool WorkflowPlan::advance()
{
    ++current;
    if (unsigned(current) < unsigned(entries.size()))
        return true;
    entries.clear();
    planWarnings.clear();
    current = -1;
    return false;
}

} // namespace PelkPlus
