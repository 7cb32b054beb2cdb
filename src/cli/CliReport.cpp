#include "cli/CliReport.h"

#include "cli/CliOutput.h"
#include "cli/DeviceReport.h"
#include "workflow/UpdateJournal.h"
#include "workflow/UpdatePlanner.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/VersionText.h"
#include "workflow/WorkflowNotifier.h"

#include <QJsonArray>
#include <QJsonObject>

namespace PelkPlus {

namespace {

QJsonArray componentArray(const QList<Component>& components)
{
    QJsonArray array;
    for (const Component& component : components)
        array.append(DeviceReport::componentObject(component));
    return array;
}

// What the journal of a stopped update says, for a script: the component and step it stopped at.
QJsonObject interruptedObject(const UpdateJournal& journal)
{
    const UpdateJournal::Entry* entry = journal.currentEntry();
    return QJsonObject { { QStringLiteral("component"), entry ? componentTypeName(entry->type) : QString() },
        { QStringLiteral("step"), QLatin1String(UpdateJournal::stepName(journal.step)) },
        { QStringLiteral("time"), journal.time.toUTC().toString(Qt::ISODate) },
        { QStringLiteral("message"), journal.stoppedText() } };
}

} // namespace

QString CliReport::serviceUpdateText()
{
    return QStringLiteral(
        "An update exists that cannot be installed over USB: this device's MCU firmware must "
        "be programmed into the MCU directly, by a service centre.");
}

QString CliReport::unsignedRefusalText()
{
    return QStringLiteral(
        "The update catalogue is not signed by a trusted key, so nothing shows that its files are the "
        "ones the publisher released; they could have been changed on the way. Nothing was sent to the "
        "device. Give --allow-unsigned to install from it anyway.");
}

CliReport::CliReport(CliOptions::Command command, CliOutput* output, UpdateWorkflow* workflow)
    : command(command)
    , cliOutput(output)
    , workflow(workflow)
{ }

std::optional<int> CliReport::reportPlan(const Connection& device)
{
    const QList<Component> plan = workflow->plan();
    const QStringList warnings = workflow->planWarnings();
    const QString checked = workflow->lastChecked().toString();

    if (plan.isEmpty()) {
        cliOutput->result(QStringLiteral("No updates available (last checked on %1).").arg(checked));
    } else {
        QString text
            = QStringLiteral("The following components can be updated (last checked on %1):").arg(checked);
        for (const Component& component : plan)
            text += QStringLiteral("\n  ") + UpdatePlanner::describe(component);
        cliOutput->result(text);
        cliOutput->info(QStringLiteral("The update takes %1 once the files are downloaded.")
                            .arg(workflow->estimate().text()));
    }
    if (!warnings.isEmpty())
        cliOutput->result(QStringLiteral("WARNING:\n") + warnings.join(QLatin1Char('\n')));
    const bool verified = workflow->isCatalogueVerified();
    if (!verified)
        cliOutput->result(WorkflowNotifier::unverifiedCatalogueText());
    const std::optional<UpdateJournal> stopped = workflow->interruptedUpdate();
    if (stopped)
        cliOutput->result(stopped->stoppedText());

    const bool refused = command != CliOptions::Check && !plan.isEmpty() && !verified
        && !workflow->isUnsignedCatalogueAllowed();
    if (command != CliOptions::Check && !plan.isEmpty() && !refused)
        return std::nullopt;
    const DeviceInfo info = workflow->deviceInfo();
    QJsonObject object { { QStringLiteral("device"), DeviceReport::deviceObject(device, &info) },
        { QStringLiteral("updates"), componentArray(plan) }, { QStringLiteral("verified"), verified } };
    if (!warnings.isEmpty())
        object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(warnings));
    if (stopped)
        object.insert(QStringLiteral("interruptedUpdate"), interruptedObject(*stopped));
    cliOutput->object(object);
    if (refused) {
        cliOutput->error(unsignedRefusalText(), QStringLiteral("unsigned"));
        return unsignedCatalogueExitCode;
    }
    // Up to date as far as USB goes, but not as far as the catalogue does: a script must be able to
    // tell the two apart.
    if (plan.isEmpty() && warnings.contains(UpdatePlanner::mcuNotUpdatableWarning())) {
        cliOutput->error(serviceUpdateText(), QStringLiteral("service-update"));
        return serviceUpdateExitCode;
    }
    return 0;
}

int CliReport::reportResult(const Connection& device)
{
    const DeviceInfo info = workflow->deviceInfo();
    // After an update the plan is made again against the rebooted device: anything still listed
    // did not take.
    const QList<Component> left = command == CliOptions::Update ? workflow->plan() : QList<Component>();
    cliOutput->result(QStringLiteral("Device versions:\n") + DeviceReport::versionLines(info));
    const InstallSummary& summary = workflow->installSummary();
    QJsonArray done;
    QList<ComponentType> sent = summary.notApplied();
    for (const InstallSummary::Installed& component : summary.installed()) {
        sent.append(component.type);
        QJsonObject entry { { QStringLiteral("component"), componentTypeName(component.type) },
            { QStringLiteral("before"), component.before },
            { QStringLiteral("confirmed"), component.confirmed } };
        // A local file's version is not known; a catalogue's is given as the device will show it,
        // and as the catalogue writes it.
        if (!component.sent.isEmpty()) {
            entry.insert(QStringLiteral("version"), VersionText::displayed(component.type, component.sent));
            entry.insert(QStringLiteral("catalogueVersion"), component.sent);
        }
        done.append(entry);
    }
    // "updates" of check lists what is to be installed; after an update the list is of what the
    // device did not take, which has a name of its own. A component never sent was not refused.
    QList<Component> refused;
    for (const Component& component : left) {
        if (sent.contains(component.type))
            refused.append(component);
    }
    cliOutput->object(QJsonObject { { QStringLiteral("device"), DeviceReport::deviceObject(device, &info) },
        { QStringLiteral("installed"), done }, { QStringLiteral("notApplied"), componentArray(refused) },
        { QStringLiteral("verified"), command == CliOptions::Update && workflow->isCatalogueVerified() } });
    // A component the device did not take ends the update before the next one is sent, so only
    // that one is named; otherwise what the plan made again still lists did not take.
    QStringList names;
    for (ComponentType type : summary.notApplied())
        names.append(componentTypeName(type));
    if (names.isEmpty()) {
        for (const Component& component : qAsConst(refused))
            names.append(componentTypeName(component.type));
    }
    if (!names.isEmpty()) {
        cliOutput->error(QStringLiteral("The device does not report the new version of: %1")
                             .arg(names.join(QStringLiteral(", "))),
            QStringLiteral("not-applied"));
        return 1;
    }
    cliOutput->info(summary.completionText());
    return 0;
}

} // namespace PelkPlus
