#pragma once

#include "workflow/MessageKind.h"

#include <QByteArray>
#include <QList>
#include <QObject>

namespace PelkPlus {

class DownloadAgent;
class WorkflowPlan;
struct Component;

// The downloads of an update's files: all of the plan's at once before the first component goes
// to the device, or the current component's alone. Each file is named after its type in the
// download folder; the texts and progress tell which file is arriving, through its own signals.
class ComponentDownloads : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ComponentDownloads)

public:
    ComponentDownloads(DownloadAgent* agent, WorkflowPlan& plan, QObject* parent = nullptr);
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

signals:
    // The current component's file is on this computer already.
    void componentDownloadSkipped();
    // A download could not start, or the agent's failed.
    void downloadFailure();
    void downloadTextChanged(const QString& text);
    void downloadProgressChanged(int percent);
    void installTextChanged(const QString& text);
    void installProgressChanged(int percent);
    void statusChanged(const QString& text, PelkPlus::MessageKind kind);

private:
    // The download step under way: between downloadCurrent() or downloadAll() and abort().
    enum class Step { None, Current, All };

    void onStarted(int request);
    void onDownloaded(int request, const QByteArray& digest);
    Component* entryOfRequest(int request);

    DownloadAgent* agent;
    WorkflowPlan& plan;
    Step step = Step::None;
    bool running = false;
    // The plan entries of the running batch, by request; empty outside it.
    QList<int> batchEntries;
    int batchFileShown = -1;
};

} // namespace PelkPlus
