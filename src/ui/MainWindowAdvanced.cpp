// Advanced actions, the updater's own version check, About and closing.
#include "ui/MainWindow.h"

#include <QCloseEvent>

namespace PelkPlus {

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
}

void MainWindow::installComponentFromFile(ComponentType) { }

void MainWindow::editManifestUrl() { }

void MainWindow::evaluateAppUpdate() { }

void MainWindow::openAppUpdateUrl() { }

void MainWindow::about() { }

} // namespace PelkPlus
