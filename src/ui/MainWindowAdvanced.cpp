// The dialogs: the workflow's questions, the offer of a newer updater, About and closing.
#include "ui/MainWindow.h"

#include "app/SemanticVersion.h"
#include "ui/DialogProvider.h"
#include "workflow/UpdateWorkflow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>

namespace PelkPlus {

DialogProvider* MainWindow::dialogs()
{
    if (!dialogProvider)
        dialogProvider = new DialogProvider(this);
    return dialogProvider;
}

void MainWindow::setDialogProvider(DialogProvider* provider)
{
    if (provider == dialogProvider)
        return;
    delete dialogProvider;
    dialogProvider = provider;
    if (dialogProvider)
        dialogProvider->setParent(this);
}

void MainWindow::setSleepPreventer(SleepPreventer* preventer)
{
    workflow->setSleepPreventer(preventer);
}

std::optional<ComponentType> MainWindow::platformApplicationType()
{
    return UpdateWorkflow::platformApplicationType();
}

void MainWindow::setAppPackageType(std::optional<ComponentType> type)
{
    workflow->setAppPackageType(type);
}

bool MainWindow::confirmQuit()
{
    if (!workflow->isUpdating())
        return true;
    const QMessageBox::StandardButton answer = dialogs()->warning(this, tr("Update in Progress"),
        tr("An update is in progress. Quitting now will abort the update.\n\nAre you sure you want to "
           "quit?\n"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    return answer == QMessageBox::Yes;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (confirmQuit())
        event->accept();
    else
        event->ignore();
}

void MainWindow::offerAppUpdate(const QString& version)
{
    auto* box = new QMessageBox(this);
    box->setModal(true);
    box->setIcon(QMessageBox::Information);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setText(QStringLiteral("New Pelk Updater version %1 is available.\n\nWould you like to quit this "
                                "application and install the new version?\n\n")
                     .arg(version));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the box without choosing counts as No, the box's escape button.
    connect(box, &QMessageBox::finished, workflow,
        [this](int result) { workflow->answerAppUpdate(result == QMessageBox::Yes); });
    box->show();
}

void MainWindow::about()
{
    const QString name = QCoreApplication::applicationName();
    dialogs()->about(this, QStringLiteral("About %1").arg(name),
        QStringLiteral("<b>%1 version %2</b>").arg(name, QLatin1String(applicationVersionText)));
}

} // namespace PelkPlus

namespace PelkPlus {

QString MainWindow::openFileName(const QString& caption, const QString& directory, const QString& filter)
{
    return dialogs()->openFileName(this, caption, directory, filter);
}

QString MainWindow::textInput(const QString& title, const QString& label, const QString& text, bool* ok)
{
    return dialogs()->textInput(this, title, label, text, ok);
}

void MainWindow::critical(const QString& title, const QString& text)
{
    dialogs()->critical(this, title, text);
}

bool MainWindow::openUrl(const QUrl& url)
{
    return dialogs()->openUrl(url);
}

void MainWindow::quitApplication()
{
    // Any way out while a component is being sent asks first, as closing the window does.
    if (confirmQuit())
        dialogs()->quitApplication();
}

} // namespace PelkPlus
