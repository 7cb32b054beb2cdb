// Carrying out an update, one component after the other.
#include "ui/MainWindow.h"

#include <QCloseEvent>

namespace PelkPlus {

void MainWindow::beginUpdate() { }

void MainWindow::selectNextComponent() { }

void MainWindow::downloadComponent() { }

void MainWindow::awaitUpdateMode() { }

void MainWindow::onDownloadProgress(int, float) { }

void MainWindow::onDownloadFinished() { }

void MainWindow::startRebootTimer() { }

void MainWindow::requestPowerCycle() { }

} // namespace PelkPlus
