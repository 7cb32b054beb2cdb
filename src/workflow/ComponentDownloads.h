#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

namespace PelkPlus {

class DownloadAgent;
class UpdateWorkflow;
class WorkflowPlan;
struct Component;

// The downloads of an update's files: all of the plan's at once before the first component goes
// to the device, or the current component's alone. Each file is named after its type in the
// download folder; the texts and progress tell which file is arriving.
class ComponentDownloads : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ComponentDownloads)

public:
    ComponentDownloads(UpdateWorkflow& workflow, DownloadAgent* agent, WorkflowPlan& plan);
    ~ComponentDownloads() override;

    // The file name of each entry that is still to be downloaded, by plan index, in plan order:
    // the type's name, numbered from 2 for a second entry of one type (a forced reinstall of a
    // catalogue listing both), so that no file overwrites another.
    static QList<QPair<int, QString>> batchFileNames(const QList<Component>& components);

    // Whether a download this step started is under way; a finished of any other batch moves
    // nothing.
    bool isRunning() const { return running; }
    // The entry whose file could not be fetched, by the batch's failed request or the step's
    // component; null when none is known.
    const Component* failedComponent();

    void downloadCurrent();
    void downloadAll();
    // A download left behind would finish into the file the next update sends.
    void abort();

private:
    void onStarted(int request);
    void onDownloaded(int request, const QByteArray& digest);
    Component* entryOfRequest(int request);

    UpdateWorkflow& workflow;
    DownloadAgent* agent;
    WorkflowPlan& plan;
    bool running = false;
    // The plan entries of the running batch, by request; empty outside it.
    QList<int> batchEntries;
    int batchFileShown = -1;
};

} // namespace PelkPlus
