#include "workflow/ComponentDownloads.h"

#include "app/ApplicationPaths.h"
#include "update/DownloadAgent.h"
#include "update/DownloadRequest.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/WorkflowPlan.h"

#include <QDebug>

namespace PelkPlus {

ComponentDownloads::ComponentDownloads(
    DownloadAgent* downloadAgent, WorkflowPlan& workflowPlan, QObject* parent)
    : QObject(parent)
    , agent(downloadAgent)
    , plan(workflowPlan)
{
    connect(agent, &DownloadAgent::requestStarted, this, &ComponentDownloads::onStarted);
    // A transfer is not shown as complete before it is.
    connect(agent, &DownloadAgent::progress, this,
        [this](int, float fraction) { emit downloadProgressChanged(int(fraction * 100)); });
    connect(agent, &DownloadAgent::requestFinished, this, &ComponentDownloads::onDownloaded);
    connect(agent, &DownloadAgent::failed, this, &ComponentDownloads::downloadFailure);
}

ComponentDownloads::~ComponentDownloads() = default;

QList<QPair<int, QString>> ComponentDownloads::batchFileNames(const QList<Component>& components)
{
    QList<QPair<int, QString>> files;
    QStringList names;
    for (int index = 0; index < components.size(); ++index) {
        const Component& component = components.at(index);
        if (!component.localPath.isEmpty())
            continue;
        QString name = componentTypeName(component.type);
        for (int n = 2; names.contains(name); ++n)
            name = QStringLiteral("%1 (%2)").arg(componentTypeName(component.type)).arg(n);
        names.append(name);
        files.append({ index, name });
    }
    return files;
}

Component* ComponentDownloads::entryOfRequest(int request)
{
    if (request >= 0 && request < batchEntries.size() && batchEntries.at(request) < plan.components().size())
        return &plan.components()[batchEntries.at(request)];
    return nullptr;
}

const Component* ComponentDownloads::failedComponent()
{
    if (step == Step::All)
        return entryOfRequest(agent->currentRequest());
    if (step == Step::Current)
        return plan.currentEntry();
    return nullptr;
}

void ComponentDownloads::downloadCurrent()
{
    step = Step::Current;
    Component* component = plan.currentEntry();
    if (!component)
        return;

    // A file chosen on this computer is sent as it is.
    if (!component->localPath.isEmpty()) {
        emit downloadProgressChanged(100);
        emit componentDownloadSkipped();
        return;
    }

    if (!ApplicationPaths::ensureDownloadDirectory()) {
        qCritical() << "MainWindow: Failed to create download directory.";
        emit downloadFailure();
        return;
    }
    component->localPath
        = ApplicationPaths::downloadDirectory() + QLatin1Char('/') + componentTypeName(component->type);
    // The size the HEAD request announced is enforced, so a truncated file never reaches the device.
    running = agent->download(DownloadRequest::forComponent(*component));
    if (!running) {
        qCritical() << "MainWindow: Failed to start component download.";
        emit downloadFailure();
    }
}

void ComponentDownloads::downloadAll()
{
    step = Step::All;
    batchEntries.clear();
    batchFileShown = -1;
    if (!ApplicationPaths::ensureDownloadDirectory()) {
        qCritical() << "MainWindow: Failed to create download directory.";
        emit downloadFailure();
        return;
    }

    QList<DownloadRequest> requests;
    const QList<QPair<int, QString>> files = batchFileNames(plan.components());
    for (const auto& file : files) {
        Component& component = plan.components()[file.first];
        component.localPath = ApplicationPaths::downloadDirectory() + QLatin1Char('/') + file.second;
        requests.append(DownloadRequest::forComponent(component));
        batchEntries.append(file.first);
    }

    // The component label stays for the components themselves; the status says what happens.
    emit statusChanged(
        QStringLiteral("Downloading and verifying %1 before anything is sent to the device...")
            .arg(requests.size() == 1 ? QStringLiteral("the update file")
                                      : QStringLiteral("%1 update files").arg(requests.size())),
        MessageKind::Information);
    emit downloadProgressChanged(0);
    emit installProgressChanged(0);
    emit installTextChanged(QStringLiteral("Installing"));
    running = agent->download(requests);
    if (!running) {
        qCritical() << "MainWindow: Failed to start component download.";
        emit downloadFailure();
    }
}

void ComponentDownloads::abort()
{
    step = Step::None;
    running = false;
    batchEntries.clear();
    agent->abort();
}

void ComponentDownloads::onStarted(int request)
{
    // Before the first component: which of the files is arriving, and how large it is.
    const Component* component = entryOfRequest(request);
    if (request == batchFileShown || !component)
        return;
    batchFileShown = request;
    QString text = QStringLiteral("Downloading %1 (file %2 of %3)")
                       .arg(componentTypeName(component->type))
                       .arg(request + 1)
                       .arg(batchEntries.size());
    if (component->size > 0)
        text += QStringLiteral(", %1 KB").arg(UpdatePlanner::kilobytesText(component->size));
    emit downloadTextChanged(text);
    emit downloadProgressChanged(0);
}

void ComponentDownloads::onDownloaded(int request, const QByteArray& digest)
{
    Component* component = nullptr;
    if (step == Step::All)
        component = entryOfRequest(request);
    else if (step == Step::Current)
        component = plan.currentEntry();
    if (component)
        component->downloadedSha256 = digest;
}

} // namespace PelkPlus
