#pragma once

#include "app/SemanticVersion.h"
#include "update/Component.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <optional>

class QState;

namespace PelkPlus {

class UpdateManager;
class UpdateWorkflow;
class WorkflowQuestions;

// The check for a newer version of the updater itself: its region of the state machine, the
// evaluation of the catalogue's packages for this platform, and the page it opens when the user
// takes the offer.
class AppUpdateCheck : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AppUpdateCheck)

public:
    AppUpdateCheck(UpdateWorkflow& workflow, UpdateManager* manager);
    ~AppUpdateCheck() override;

    // Builds the updater-check region into the machine's parallel state. Its initial state makes
    // the check run once at every start-up, silently.
    void buildRegion(QState* regions);

    void setQuestions(WorkflowQuestions* asked) { questions = asked; }
    void setPackageType(std::optional<ComponentType> type) { packageType = type; }
    static std::optional<ComponentType> platformApplicationType();
    // The first package of the type newer than the running version; none where there is none.
    static std::optional<Component> newerPackage(const QList<Component>& components,
        const SemanticVersion& running, std::optional<ComponentType> type);

    // The check that runs at start-up reports nothing unless it finds a newer updater.
    void beginSilently() { silent = true; }
    // The user asked for the check.
    void request();

private:
    void evaluate();
    void openUrl();

    UpdateWorkflow& workflow;
    UpdateManager* manager;
    WorkflowQuestions* questions = nullptr;
    SemanticVersion appVersion;
    QUrl offeredUrl;
    bool silent = false;
    std::optional<ComponentType> packageType = platformApplicationType();
};

} // namespace PelkPlus
