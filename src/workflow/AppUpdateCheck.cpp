#include "workflow/AppUpdateCheck.h"

#include "update/DownloadReplies.h"
#include "update/UpdateManager.h"
#include "workflow/NamedState.h"
#include "workflow/WorkflowQuestions.h"
#include "workflow/WorkflowStates.h"

#include <QDebug>
#include <QState>

namespace PelkPlus {

AppUpdateCheck::AppUpdateCheck(UpdateManager* updateManager, QObject* parent)
    : QObject(parent)
    , manager(updateManager)
    , appVersion(applicationVersion())
{ }

AppUpdateCheck::~AppUpdateCheck() = default;

std::optional<ComponentType> AppUpdateCheck::platformApplicationType()
{
#if defined(Q_OS_WIN)
    return ComponentType::WindowsApplication;
#elif defined(Q_OS_MACOS)
    return ComponentType::MacApplication;
#else
    return std::nullopt;
#endif
}

std::optional<Component> AppUpdateCheck::newerPackage(
    const QList<Component>& components, const SemanticVersion& running, std::optional<ComponentType> type)
{
    for (const Component& component : components) {
        // Only a package this platform can install is worth offering.
        if (!type || component.type != *type)
            continue;

        SemanticVersion offered;
        try {
            offered = SemanticVersion(component.version);
        } catch (const SemanticVersion::error&) {
            qCritical() << "Failed parsing app update version!";
            continue;
        }
        if (running < offered)
            return component;
    }
    return std::nullopt;
}

void AppUpdateCheck::request()
{
    // Asked while the silent start-up check runs: that check answers, as a requested one would.
    if (runningState && runningState->active())
        silent = false;
    emit checkAppUpdatesRequest();
}

void AppUpdateCheck::answer(bool accepted)
{
    if (accepted)
        emit appUpdatesConfirmed();
    else
        emit appUpdatesRejected();
}

void AppUpdateCheck::evaluate()
{
    const std::optional<Component> newer
        = newerPackage(manager->componentsFor(ManifestProduct::Updater), appVersion, packageType);
    if (newer) {
        offeredUrl = newer->url;
        emit appUpdateOffered(newer->version);
        return;
    }
    if (!silent)
        emit messageRequested(
            MessageKind::Information, QString(), QStringLiteral("No updates available for Pelk Updater."));
    emit appUpdatesRejected();
}

void AppUpdateCheck::openUrl()
{
    if (!offeredUrl.isValid()) {
        qCritical() << "App update URL invalid.";
        return;
    }
    if (questions && questions->openUrl(offeredUrl))
        questions->quitApplication();
    else
        qCritical() << "Failed to open app update URL:" << DownloadReplies::redactedUrl(offeredUrl);
}

void AppUpdateCheck::buildRegion(QState* regions)
{
    auto* appUpdateRegion = newState(WorkflowStates::appUpdateRegion, regions);
    auto* appCheckIdleState = newState(WorkflowStates::appCheckIdleState, appUpdateRegion);
    auto* appCheckRunningState = newState(WorkflowStates::appCheckRunningState, appUpdateRegion);
    auto* appCheckDoneState = newState(WorkflowStates::appCheckDoneState, appUpdateRegion);
    auto* appUpdateAcceptedState = newState(WorkflowStates::appUpdateAcceptedState, appUpdateRegion);
    auto* appCheckFailedState = newState(WorkflowStates::appCheckFailedState, appUpdateRegion);
    appUpdateRegion->setInitialState(appCheckRunningState);
    runningState = appCheckRunningState;

    connect(
        appCheckIdleState, &QState::entered, this, [this] { silent = false; }, Qt::DirectConnection);
    connect(appCheckRunningState, &QState::entered, manager, &UpdateManager::checkForUpdates,
        Qt::DirectConnection);
    connect(appCheckDoneState, &QState::entered, this, &AppUpdateCheck::evaluate, Qt::DirectConnection);
    connect(appUpdateAcceptedState, &QState::entered, this, &AppUpdateCheck::openUrl, Qt::DirectConnection);
    connect(
        appCheckFailedState, &QState::entered, this,
        [this] {
            if (!silent) {
                emit messageRequested(MessageKind::Critical, QString(),
                    QStringLiteral("Failed to check for new version of Pelk Updater."));
            }
        },
        Qt::DirectConnection);

    appCheckIdleState->addTransition(this, &AppUpdateCheck::checkAppUpdatesRequest, appCheckRunningState);
    appCheckRunningState->addTransition(manager, &UpdateManager::updateDiscoveryDone, appCheckDoneState);
    appCheckRunningState->addTransition(manager, &UpdateManager::failure, appCheckFailedState);
    appCheckRunningState->addTransition(manager, &UpdateManager::cancelled, appCheckIdleState);
    appCheckDoneState->addTransition(this, &AppUpdateCheck::appUpdatesConfirmed, appUpdateAcceptedState);
    appCheckDoneState->addTransition(this, &AppUpdateCheck::appUpdatesRejected, appCheckIdleState);
    appUpdateAcceptedState->addTransition(appCheckIdleState);
    appCheckFailedState->addTransition(appCheckIdleState);
}

} // namespace PelkPlus
