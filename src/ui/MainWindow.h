#pragma once

#include <QMainWindow>

namespace PelkPlus {

// The updater's one window.
class MainWindow : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;
};

} // namespace PelkPlus
