// Built only into the test copy of the updater (pelk-updater-dismissing): the start-up is the
// product's own, and this closes every message box a moment after it is shown, which nothing
// outside the process can do on the offscreen platform.
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

namespace {

void dismissMessageBoxes()
{
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(300);
    QObject::connect(timer, &QTimer::timeout, QCoreApplication::instance(), [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box && box->isVisible())
                box->done(QMessageBox::Ok);
        }
    });
    timer->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(dismissMessageBoxes)
