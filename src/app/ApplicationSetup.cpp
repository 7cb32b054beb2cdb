#include "app/ApplicationSetup.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

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
}

void ApplicationSetup::setNames(QCoreApplication& application)
{
    application.setApplicationName(QStringLiteral("Pelk Updater"));
    application.setOrganizationDomain(QString::fromLatin1(organizationDomain()));
    application.setOrganizationName(QStringLiteral("Quellor"));
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
    // Lets the process tests close the modal box, which nothing outside the process can reach on
    // the offscreen platform.
    const int dismissAfter = qEnvironmentVariableIntValue("PELK_TEST_DISMISS_DIALOG_MS");
    if (dismissAfter > 0)
        QTimer::singleShot(dismissAfter, box, [box] { box->done(QMessageBox::Ok); });
    box->exec();
    delete box;
}

} // namespace PelkPlus
