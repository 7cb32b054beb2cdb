#include "ui/MainWindow.h"

#include <QLabel>

namespace PelkPlus {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setCentralWidget(new QLabel(QStringLiteral("Please connect a PELK device."), this));
    resize(640, 480);
}

MainWindow::~MainWindow() = default;

} // namespace PelkPlus
