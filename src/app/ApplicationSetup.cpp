#include "app/ApplicationSetup.h"

#include "app/ApplicationIdentity.h"
#include "app/LogFile.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

namespace PelkPlus {

namespace {
const char anotherInstanceText[] = "Another instance of the application is already running.";
}

void ApplicationSetup::setIdentity(QApplication& application)
{
    setNames(application);

    QIcon icon;
    icon.addFile(QStringLiteral(":/images/updater_icon_256.png"), QSize(), QIcon::Normal, QIcon::Off);
    application.setWindowIcon(icon);
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quellor.PelkUpdater"));
    // The names now say where the application's data lives.
    LogFile::start();
}

void ApplicationSetup::setNames(QCoreApplication& application)
{
    ApplicationIdentity::setNames(application);
}

QMessageBox* ApplicationSetup::createAnotherInstanceBox()
{
    auto* box = new QMessageBox(
        QMessageBox::Critical, QString(), QString::fromLatin1(anotherInstanceText), QMessageBox::Ok, nullptr);
    box->setDefaultButton(static_cast<QPushButton*>(nullptr));
    return box;
}

void ApplicationSetup::reportAnotherInstance()
{
    qDebug(anotherInstanceText);
    QMessageBox* box = createAnotherInstanceBox();
    box->exec();
    delete box;
}

} // namespace PelkPlus
