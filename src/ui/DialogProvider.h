#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>

class QDialog;
class QUrl;
class QWidget;

namespace PelkPlus {

// The window's blocking dialogs and what it asks of the desktop, in one replaceable place. The
// framework's dialogs run their own event loop until the user answers; a test puts a provider with
// scripted answers in their place, so that nothing waits for a user or opens a browser.
class DialogProvider : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DialogProvider)

public:
    explicit DialogProvider(QObject* parent = nullptr);
    ~DialogProvider() override;

    // An existing file to open; empty when cancelled.
    virtual QString openFileName(
        QWidget* parent, const QString& caption, const QString& directory, const QString& filter);
    // One line of text; ok tells whether the user accepted it.
    virtual QString textInput(
        QWidget* parent, const QString& title, const QString& label, const QString& text, bool* ok);
    // A critical message with an OK button.
    virtual void critical(QWidget* parent, const QString& title, const QString& text);
    // A warning asking for one of the buttons; the answer is the button chosen.
    virtual QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
    // Runs a question box of the window's own until it is answered or closed (which may happen
    // without the user, when what it asks about has ended); the answer is the button chosen.
    virtual QMessageBox::StandardButton ask(QMessageBox* box);
    virtual void about(QWidget* parent, const QString& title, const QString& text);
    // A file name to save to; empty when cancelled.
    virtual QString saveFileName(
        QWidget* parent, const QString& caption, const QString& directory, const QString& filter);
    // Runs a dialog of the window's own until it is closed.
    virtual void showDialog(QDialog* dialog);

    // Opens a URL with the desktop's default handler; false when that failed.
    virtual bool openUrl(const QUrl& url);
    virtual void quitApplication();
};

} // namespace PelkPlus
