// The device panel and the plan of an update.
#include "ui/MainWindow.h"

#include "device/DeviceModel.h"
#include "ui/DeviceStatusView.h"
#include "ui/MessageBox.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowPhase.h"
#include "workflow/WorkflowNotifier.h"

#include <QLabel>
#include <QListWidget>

namespace PelkPlus {

void MainWindow::showDevice()
{
    if (!workflow->hasDevice())
        return;
    const DeviceInfo info = workflow->deviceInfo();
    deviceStatusView->setDeviceInfo(info);
    if (info.model == Base)
        plusLogo->hide();
    else
        baseLogo->hide();
}

void MainWindow::refreshUpdateList()
{
    componentList->clear();

    const QStringList warnings = workflow->planWarnings();
    if (warnings.isEmpty()) {
        warningsBox->clear();
    } else {
        QString text = QStringLiteral("WARNING:");
        for (const QString& warning : warnings)
            text += QLatin1Char('\n') + warning;
        warningsBox->showWarning(text);
    }

    const QList<Component> plan = workflow->plan();
    const QDateTime lastChecked = workflow->lastChecked();
    if (!plan.isEmpty()) {
        updatesHeading->showInformation(
            QStringLiteral("The following components can be updated (last checked on %1):")
                .arg(lastChecked.toString()));
    } else if (lastChecked.isValid()) {
        updatesHeading->showInformation(
            QStringLiteral("No updates available (last checked on %1).").arg(lastChecked.toString()));
    } else if (workflow->isFetchingManifest()) {
        // Fetching can last until the download's no-progress limit; the heading says why nothing shows.
        updatesHeading->showInformation(phaseStatusText(WorkflowPhase::Checking));
    } else {
        updatesHeading->clear();
    }
    const bool unverified = lastChecked.isValid() && !workflow->isCatalogueVerified();
    catalogueNote->setText(unverified ? WorkflowNotifier::unverifiedCatalogueText() : QString());
    catalogueNote->setVisible(unverified);

    estimateLabel->setText(plan.isEmpty()
            ? QString()
            : QStringLiteral("The update takes %1 once the files are downloaded.")
                  .arg(workflow->estimate().text()));
    estimateLabel->setVisible(!plan.isEmpty());

    for (const Component& component : plan) {
        auto* item = new QListWidgetItem(UpdatePlanner::describe(component), componentList);
        // Shown for information only: the plan is installed whole, in this order.
        item->setFlags(Qt::ItemIsEnabled);
    }
}

} // namespace PelkPlus
