#include "ui/DialogProvider.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QUrl>

namespace PelkPlus {

DialogProvider::DialogProvider(QObject* parent)
    : QObject(parent)
{ }

DialogProvider::~DialogProvider() = default;

QString DialogProvider::openFileName(
    QWidget* parent, const QString& caption, const QString& directory, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString DialogProvider::textInput(
    QWidget* parent, const QString& title, const QString& label, const QString& text, bool* ok)
{
    return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
}

void DialogProvider::critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton DialogProvider::warning(QWidget* parent, const QString& title,
    const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::warning(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton DialogProvider::ask(QMessageBox* box)
{
    return QMessageBox::StandardButton(box->exec());
}

void DialogProvider::about(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::about(parent, title, text);
}

QString DialogProvider::saveFileName(
    QWidget* parent, const QString& caption, const QString& directory, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

void DialogProvider::showDialog(QDialog* dialog)
{
    dialog->exec();
}

bool DialogProvider::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void DialogProvider::quitApplication()
{
    QCoreApplication::quit();
}

} // namespace PelkPlus
