#include "ui/WindowDialogs.h"

#include "app/LogFile.h"
#include "app/PelkVersion.h"
#include "ui/DialogProvider.h"
#include "ui/UpdateHistoryDialog.h"
#include "workflow/DiagnosticsReport.h"
#include "workflow/UpdateWorkflow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QUrl>
#include <QWidget>

namespace PelkPlus {

WindowDialogs::WindowDialogs(UpdateWorkflow* engine, QWidget* window)
    : QObject(window)
    , workflow(engine)
    , dialogParent(window)
{ }

WindowDialogs::~WindowDialogs() = default;

DialogProvider* WindowDialogs::dialogs()
{
    if (!dialogProvider)
        dialogProvider = new DialogProvider(this);
    return dialogProvider;
}

void WindowDialogs::setDialogProvider(DialogProvider* provider)
{
    if (provider == dialogProvider)
        return;
    delete dialogProvider;
    dialogProvider = provider;
    if (dialogProvider)
        dialogProvider->setParent(this);
}

bool WindowDialogs::confirmQuit()
{
    if (!workflow->isUpdating())
        return true;
    // Neither Enter nor Escape stops an update; and once the update has ended meanwhile there is
    // nothing left to ask, so the box closes itself and the window closes.
    QMessageBox box(QMessageBox::Warning, tr("Update in Progress"),
        tr("An update is in progress. Quitting now will abort the update.\n\nStopping now may leave the "
           "device unusable until it is updated again.\n\nAre you sure you want to quit?\n"),
        QMessageBox::Yes | QMessageBox::No, dialogParent);
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

void WindowDialogs::offerAppUpdate(const QString& version)
{
    auto* box = new QMessageBox(dialogParent);
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

void WindowDialogs::about()
{
    const QString name = QCoreApplication::applicationName();
    dialogs()->about(dialogParent, QStringLiteral("About %1").arg(name),
        QStringLiteral("<b>%1 version %2</b>").arg(name, QLatin1String(applicationVersionText)));
}

void WindowDialogs::showUpdateHistory()
{
    UpdateHistoryDialog dialog(workflow->history().entries(), dialogParent);
    dialogs()->showDialog(&dialog);
}

void WindowDialogs::showLogFolder()
{
    const QString folder = LogFile::folderPath();
    QDir().mkpath(folder);
    if (!dialogs()->openUrl(QUrl::fromLocalFile(folder)))
        qCritical().noquote() << "MainWindow: Failed to open the log folder:" << folder;
}

void WindowDialogs::saveDiagnosticsReport()
{
    const QString suggested = QDir::homePath() + QLatin1Char('/')
        + QStringLiteral("pelk-updater-diagnostics-%1.txt")
              .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    const QString path = dialogs()->saveFileName(dialogParent, QStringLiteral("Save Diagnostics Report"),
        suggested, QStringLiteral("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    const QByteArray report
        = DiagnosticsReport::build(workflow->diagnosticsDevices(), workflow->history()).toUtf8();
    QSaveFile file(path);
    // The report names the devices' serial numbers and the catalogue's address: the user's alone.
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(report) != report.size() || !file.commit()) {
        qCritical().noquote() << "MainWindow: Failed to save the diagnostics report:" << file.errorString();
        dialogs()->critical(dialogParent, QStringLiteral("Diagnostics Report"),
            QStringLiteral("The report could not be saved to %1:\n%2").arg(path, file.errorString()));
        return;
    }
    qDebug().noquote() << "Diagnostics report saved to" << path;
    QMessageBox saved(QMessageBox::Information, QStringLiteral("Diagnostics Report"),
        QStringLiteral("The report was saved to %1.").arg(QDir::toNativeSeparators(path)), QMessageBox::Ok,
        dialogParent);
    dialogs()->ask(&saved);
}

QString WindowDialogs::openFileName(const QString& caption, const QString& directory, const QString& filter)
{
    return dialogs()->openFileName(dialogParent, caption, directory, filter);
}

QString WindowDialogs::textInput(const QString& title, const QString& label, const QString& text, bool* ok)
{
    return dialogs()->textInput(dialogParent, title, label, text, ok);
}

bool WindowDialogs::confirm(const QString& title, const QString& text)
{
    // Stopping is what Enter and Escape do: going on must be chosen.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel, dialogParent);
    box.button(QMessageBox::Ok)->setText(tr("Continue"));
    box.button(QMessageBox::Cancel)->setText(tr("Stop"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return dialogs()->ask(&box) == QMessageBox::Ok;
}

bool WindowDialogs::ask(const QString& title, const QString& text)
{
    // Yes must be chosen: Enter, Escape and closing the box all answer No.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, dialogParent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return dialogs()->ask(&box) == QMessageBox::Yes;
}

void WindowDialogs::critical(const QString& title, const QString& text)
{
    dialogs()->critical(dialogParent, title, text);
}

bool WindowDialogs::openUrl(const QUrl& url)
{
    return dialogs()->openUrl(url);
}

void WindowDialogs::quitApplication()
{
    // Any way out while a component is being sent asks first, as closing the window does.
    if (confirmQuit())
        dialogs()->quitApplication();
}

} // namespace PelkPlus
