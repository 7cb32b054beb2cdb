#pragma once

#include "app/SemanticVersion.h"
#include "update/Component.h"
#include "workflow/MessageKind.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <optional>

class QState;

namespace PelkPlus {

class UpdateManager;
class WorkflowQuestions;

// The check for a newer version of the updater itself: its region of the state machine, the
// evaluation of the catalogue's packages for this platform, and the page it opens when the user
// takes the offer. What it finds it tells through its own signals.
class AppUpdateCheck : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AppUpdateCheck)

public:
    explicit AppUpdateCheck(UpdateManager* manager, QObject* parent = nullptr);
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
    // The user's answer to the offer of a newer updater.
    void answer(bool accepted);

signals:
    // The check is to run (again).
    void checkAppUpdatesRequest();
    // A newer updater is available; answer().
    void appUpdateOffered(const QString& version);
    void appUpdatesConfirmed();
    // The offer was declined, or there was nothing to offer.
    void appUpdatesRejected();
    void messageRequested(PelkPlus::MessageKind kind, const QString& title, const QString& text);

private:
    void evaluate();
    void openUrl();

    UpdateManager* manager;
    QState* runningState = nullptr;
    WorkflowQuestions* questions = nullptr;
    SemanticVersion appVersion;
    QUrl offeredUrl;
    bool silent = false;
    std::optional<ComponentType> packageType = platformApplicationType();
};

} // namespace PelkPlus
