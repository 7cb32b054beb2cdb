// The workflow state machine: four parallel regions driven by the window's and the agents' signals.
#include "ui/MainWindow.h"

#include <QCloseEvent>

namespace PelkPlus {

void MainWindow::createStateMachine()
{
    // The regions follow the device, the panel, the workflow and the updater check side by side.
    stateMachine.setChildMode(QState::ParallelStates);
}

} // namespace PelkPlus
