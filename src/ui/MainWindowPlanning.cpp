// Device selection and update planning.
#include "ui/MainWindow.h"

#include <QCloseEvent>

namespace PelkPlus {

void MainWindow::selectDevice() { }

void MainWindow::forgetDevice() { }

void MainWindow::showDevice() { }

void MainWindow::resetUpdatePlan() { }

void MainWindow::startUpdateCheck() { }

void MainWindow::planUpdate(bool) { }

void MainWindow::refreshUpdateList() { }

} // namespace PelkPlus
