// The dialogs: the workflow's questions, the offer of a newer updater, About and closing.
#include "ui/MainWindow.h"

#include "app/SemanticVersion.h"
#include "app/LogFile.h"
#include "ui/DialogProvider.h"
#include "ui/UpdateHistoryDialog.h"
#include "workflow/DiagnosticsReport.h"
#include "workflow/UpdateWorkflow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QPushButton>
#include <QSaveFile>
#include <QUrl>

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
    // Neither Enter nor Escape stops an update; and once the update has ended meanwhile there is
    // nothing left to ask, so the box closes itself and the window closes.
    QMessageBox box(QMessageBox::Warning, tr("Update in Progress"),
        tr("An update is in progress. Quitting now will abort the update.\n\nStopping now may leave the "
           "device unusable until it is updated again.\n\nAre you sure you want to quit?\n"),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    bool ended = false;
    const QMetaObject::Connection closer = connect(workflow, &UpdateWorkflow::updateEnded, &box, [&] {
        ended = true;
        box.done(QMessageBox::No);
    });
    const QMessageBox::StandardButton answer = dialogs()->ask(&box);
    disconnect(closer);
    return ended || answer == QMessageBox::Yes;
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

void MainWindow::showUpdateHistory()
{
    UpdateHistoryDialog dialog(workflow->history().entries(), this);
    dialogs()->showDialog(&dialog);
}

void MainWindow::showLogFolder()
{
    const QString folder = LogFile::folderPath();
    QDir().mkpath(folder);
    if (!dialogs()->openUrl(QUrl::fromLocalFile(folder)))
        qCritical().noquote() << "MainWindow: Failed to open the log folder:" << folder;
}

void MainWindow::saveDiagnosticsReport()
{
    const QString suggested = QDir::homePath() + QLatin1Char('/')
        + QStringLiteral("pelk-updater-diagnostics-%1.txt")
              .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    const QString path = dialogs()->saveFileName(
        this, QStringLiteral("Save Diagnostics Report"), suggested, QStringLiteral("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    const QByteArray report
        = DiagnosticsReport::build(workflow->diagnosticsDevices(), workflow->history()).toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(report) != report.size() || !file.commit()) {
        qCritical().noquote() << "MainWindow: Failed to save the diagnostics report:" << file.errorString();
        dialogs()->critical(this, QStringLiteral("Diagnostics Report"),
            QStringLiteral("The report could not be saved to %1:\n%2").arg(path, file.errorString()));
        return;
    }
    qDebug().noquote() << "Diagnostics report saved to" << path;
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

bool MainWindow::confirm(const QString& title, const QString& text)
{
    // Stopping is what Enter and Escape do: going on must be chosen.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel, this);
    box.button(QMessageBox::Ok)->setText(tr("Continue"));
    box.button(QMessageBox::Cancel)->setText(tr("Stop"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return dialogs()->ask(&box) == QMessageBox::Ok;
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
