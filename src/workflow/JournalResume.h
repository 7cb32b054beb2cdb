#pragma once

#include "update/Component.h"
#include "workflow/UpdateJournal.h"

#include <QList>
#include <QString>

#include <optional>

namespace PelkPlus {

class PlanExecution;
class WorkflowPlan;

// Finishing an update that stopped before its end, from the files its journal kept: the component
// that was in progress is sent again whatever the device now reports of it, the components done
// are not sent again, and those after it follow as planned. Nothing is fetched: each kept file is
// hashed again and must still have the digest the journal gives it, or the update is not finished
// from them.
class JournalResume
{
public:
    struct Remaining
    {
        // The components still to be sent, each with its kept file as its local file.
        QList<Component> plan;
        // The journal's entry of the plan's first component.
        int firstEntry = 0;
    };

    JournalResume(WorkflowPlan& plan, PlanExecution& execution);

    // The journal's entry from which an update that stopped at its step goes on.
    static int firstEntry(const UpdateJournal& journal);
    // What is left of the journal's update; none, with the reason logged, when nothing is left or a
    // kept file is missing or no longer has its digest.
    static std::optional<Remaining> remaining(const UpdateJournal& journal, const QString& journalPath);

    // Makes what is left the plan, and has the next update go on writing the journal.
    void prepare(const UpdateJournal& journal, const Remaining& left);
    // Forgets the stopped update: its journal and its kept files.
    static void drop(const QString& journalPath);

private:
    WorkflowPlan& plan;
    PlanExecution& execution;
};

} // namespace PelkPlus
