#include "ui/AdvancedMenu.h"

#include "update/ComponentType.h"
#include "workflow/UpdateWorkflow.h"
#include "workflow/WorkflowStates.h"

#include <QAction>
#include <QActionGroup>
#include <QState>

namespace PelkPlus {

AdvancedMenu::AdvancedMenu(UpdateWorkflow* engine, QWidget* parent)
    : QMenu(tr("&Advanced"), parent)
    , workflow(engine)
{
    installActions = new QActionGroup(this);
    installActions->setEnabled(false);

    for (const ComponentType type : { ComponentType::McuFirmware, ComponentType::DspFirmware,
             ComponentType::Styles, ComponentType::EnsembleAudio }) {
        QAction* action
            = installActions->addAction(QStringLiteral("Install &%1...").arg(componentTypeName(type)));
        addAction(action);
        connect(
            action, &QAction::triggered, this, [this, type] { workflow->installComponentFromFile(type); },
            Qt::DirectConnection);
    }

    addSeparator();
    QAction* listAllAction = installActions->addAction(QStringLiteral("&List All Components"));
    addAction(listAllAction);
    connect(listAllAction, &QAction::triggered, workflow, &UpdateWorkflow::listAllComponents);

    addSeparator();
    QAction* manifestUrlAction = addAction(QStringLiteral("Set Manifest &URL..."));
    connect(manifestUrlAction, &QAction::triggered, workflow, &UpdateWorkflow::editManifestUrl);
}

AdvancedMenu::~AdvancedMenu() = default;

void AdvancedMenu::followStates()
{
    QState* idleState = workflow->state(WorkflowStates::idleState);
    idleState->assignProperty(installActions, "enabled", true);
    // A component file written to the device is the one thing the user must not start by accident.
    connect(
        idleState, &QState::exited, installActions, [this] { installActions->setEnabled(false); },
        Qt::DirectConnection);
}

} // namespace PelkPlus
