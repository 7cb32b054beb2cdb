#include "workflow/JournalResume.h"

#include "workflow/InstallAttemptRecorder.h"
#include "workflow/PlanExecution.h"
#include "workflow/WorkflowPlan.h"

#include <QDebug>
#include <QFileInfo>

namespace PelkPlus {

JournalResume::JournalResume(WorkflowPlan& workflowPlan, PlanExecution& planExecution)
    : plan(workflowPlan)
    , execution(planExecution)
{ }

int JournalResume::firstEntry(const UpdateJournal& journal)
{
    // A component the device came back with is done; any other step may have left it half sent.
    return journal.step == UpdateJournal::Step::Done ? journal.current + 1 : journal.current;
}

std::optional<JournalResume::Remaining> JournalResume::remaining(
    const UpdateJournal& journal, const QString& journalPath)
{
    Remaining left;
    left.firstEntry = firstEntry(journal);
    const QString folder = UpdateJournal::keptFilesDirectory(journalPath);
    for (int index = left.firstEntry; index < journal.components.size(); ++index) {
        const UpdateJournal::Entry& entry = journal.components.at(index);
        const QString path = folder + QLatin1Char('/') + entry.file;
        const QFileInfo info(path);
        // Read as hostile as the journal: a link in its place is not followed.
        const QString digest
            = info.isFile() && !info.isSymLink() ? InstallAttemptRecorder::fileDigest(path) : QString();
        if (QByteArray::fromHex(digest.toLatin1()) != entry.sha256 || digest.isEmpty()) {
            qCritical().noquote() << "JournalResume: The kept" << componentTypeName(entry.type) << "file"
                                  << (digest.isEmpty() ? "is missing or unreadable:" : "has changed:")
                                  << path;
            return std::nullopt;
        }
        Component component;
        component.type = entry.type;
        component.version = entry.version;
        component.localPath = path;
        component.size = info.size();
        // Checked once more as it is sent, like a downloaded file.
        component.downloadedSha256 = entry.sha256;
        left.plan.append(component);
    }
    if (left.plan.isEmpty()) {
        qCritical() << "JournalResume: The stopped update has nothing left to send.";
        return std::nullopt;
    }
    return left;
}

void JournalResume::prepare(const UpdateJournal& journal, const Remaining& left)
{
    plan.reset();
    plan.components() = left.plan;
    execution.resumeJournal(journal, left.firstEntry);
    qDebug().noquote() << QStringLiteral("JournalResume: Finishing the stopped update: %1 component(s) "
                                         "from its kept files, from entry %2 of %3.")
                              .arg(left.plan.size())
                              .arg(left.firstEntry + 1)
                              .arg(journal.components.size());
}

void JournalResume::drop(const QString& journalPath)
{
    UpdateJournal::remove(journalPath);
    qDebug() << "JournalResume: The stopped update was dropped with its kept files.";
}

} // namespace PelkPlus
