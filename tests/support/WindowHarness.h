#pragma once

// Drives the real main window against the in-process virtual bus and the loopback HTTP server.
// Header-only: it needs the user interface library, which only the window's tests link.

#include "app/ApplicationSetup.h"
#include "app/ConfigurationManager.h"
#include "support/EngineFixture.h"
#include "support/GuiStallMeter.h"
#include "ui/DialogProvider.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "workflow/UpdateWorkflow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QPair>
#include <QQueue>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace PelkPlus {

// Answers the window's blocking dialogs from a script and records every question asked.
class ScriptedDialogs : public DialogProvider
{
public:
    struct Call
    {
        QString kind;
        QString title;
        QString text;
        // The pre-filled text, the file filter or the directory, by kind.
        QString extra;
    };

    QList<Call> calls;
    QQueue<QString> files;
    // Texts of the input dialog; a null text stands for Cancel.
    QQueue<QString> inputs;
    QQueue<QMessageBox::StandardButton> warningAnswers;
    QQueue<QString> saveFiles;
    bool openUrlSucceeds = true;
    QList<QUrl> openedUrls;
    int quitRequests = 0;

    QString openFileName(
        QWidget*, const QString& caption, const QString& directory, const QString& filter) override
    {
        calls.append({ QStringLiteral("file"), caption, filter, directory });
        return files.isEmpty() ? QString() : files.dequeue();
    }

    QString textInput(
        QWidget*, const QString& title, const QString& label, const QString& text, bool* ok) override
    {
        calls.append({ QStringLiteral("input"), title, label, text });
        const QString answer = inputs.isEmpty() ? QString() : inputs.dequeue();
        *ok = !answer.isNull();
        return answer.isNull() ? QString() : answer;
    }

    void critical(QWidget*, const QString& title, const QString& text) override
    {
        calls.append({ QStringLiteral("critical"), title, text, QString() });
    }

    QMessageBox::StandardButton warning(QWidget*, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) override
    {
        calls.append({ QStringLiteral("warning"), title, text,
            QStringLiteral("%1/%2").arg(int(buttons)).arg(int(defaultButton)) });
        return warningAnswers.isEmpty() ? QMessageBox::No : warningAnswers.dequeue();
    }

    // A question box of the window's own, recorded as a warning with its buttons, default and escape
    // button; answered from warningAnswers, or, when whileAsked is set, left open to it (keys
    // pressed, an update ended meanwhile) and answered by what closed it.
    std::function<void(QMessageBox*)> whileAsked;
    QMessageBox::StandardButton ask(QMessageBox* box) override
    {
        calls.append({ QStringLiteral("warning"), box->windowTitle(), box->text(),
            QStringLiteral("%1/%2/%3")
                .arg(int(box->standardButtons()))
                .arg(int(box->standardButton(box->defaultButton())))
                .arg(int(box->standardButton(box->escapeButton()))) });
        if (!whileAsked)
            return warningAnswers.isEmpty() ? QMessageBox::No : warningAnswers.dequeue();
        box->open();
        whileAsked(box);
        askedBoxOpen = box->isVisible();
        if (askedBoxOpen)
            box->done(QMessageBox::Cancel);
        return QMessageBox::StandardButton(box->result());
    }
    // Whether the last box left to whileAsked was still open when it returned.
    bool askedBoxOpen = false;

    void about(QWidget*, const QString& title, const QString& text) override
    {
        calls.append({ QStringLiteral("about"), title, text, QString() });
    }

    QString saveFileName(
        QWidget*, const QString& caption, const QString& directory, const QString& filter) override
    {
        calls.append({ QStringLiteral("save"), caption, filter, directory });
        return saveFiles.isEmpty() ? QString() : saveFiles.dequeue();
    }

    // A dialog's tables, one line per row with its cells separated by '|'.
    void showDialog(QDialog* dialog) override
    {
        QStringList rows;
        const auto tables = dialog->findChildren<QTableWidget*>();
        for (const QTableWidget* table : tables) {
            for (int row = 0; row < table->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column)
                    cells.append(table->item(row, column) ? table->item(row, column)->text() : QString());
                rows.append(cells.join(QLatin1Char('|')));
            }
        }
        calls.append(
            { QStringLiteral("dialog"), dialog->windowTitle(), rows.join(QLatin1Char('\n')), QString() });
    }

    bool openUrl(const QUrl& url) override
    {
        openedUrls.append(url);
        return openUrlSucceeds;
    }

    void quitApplication() override { ++quitRequests; }

    int count(const QString& kind) const
    {
        int n = 0;
        for (const Call& call : calls)
            n += call.kind == kind ? 1 : 0;
        return n;
    }
};

// Samples a few texts of the window every few milliseconds and keeps each change with its time, so
// that a test can read the order and the spacing of what the user saw.
class Timeline
{
public:
    struct Change
    {
        qint64 at;
        QString source;
        QString text;
    };

    void watch(const QString& source, std::function<QString()> read)
    {
        sources.append({ source, std::move(read), QString() });
    }

    void start()
    {
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, &timerContext, [this] { sample(); });
        timer.start(5);
        sample();
    }
    void stop() { timer.stop(); }

    // When text first appeared on source after the given time; -1 if it did not.
    qint64 firstAt(const QString& source, const QString& text, qint64 after = -1) const
    {
        for (const Change& change : changes) {
            if (change.source == source && change.text == text && change.at > after)
                return change.at;
        }
        return -1;
    }

    QStringList texts(const QString& source) const
    {
        QStringList result;
        for (const Change& change : changes) {
            if (change.source == source)
                result.append(change.text);
        }
        return result;
    }

    void sample()
    {
        for (Source& source : sources) {
            const QString now = source.read();
            if (now != source.last) {
                source.last = now;
                changes.append({ clock.elapsed(), source.name, now });
            }
        }
    }

private:
    struct Source
    {
        QString name;
        std::function<QString()> read;
        QString last;
    };

    QObject timerContext;
    QTimer timer;
    QElapsedTimer clock;
    QList<Source> sources;
    QList<Change> changes;
};

// The window on the engine's fixture: the fixture holds the bus, the catalogue's server, the log
// and the records of the workflow, which the window makes; the session adds the window, its
// dialogs and what reads its widgets. The window goes before the fixture's bus.
class WorkflowSession
{
public:
    struct Shown
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    ~WorkflowSession()
    {
        timeline.stop();
        window.reset();
    }

    // The bus comes first, so that the window's monitor finds its devices.
    int addDevice(const SimulatedDeviceSettings& settings) { return engine.addDevice(settings); }

    void openWindow(std::optional<ComponentType> appPackage = std::nullopt)
    {
        if (!bus)
            bus = std::make_unique<VirtualBus>();
        ConfigurationManager::instance()->setManifestUrl(catalogue.manifestUrl());
        window = std::make_unique<MainWindow>();
        dialogs = new ScriptedDialogs;
        window->setDialogProvider(dialogs);
        engine.appPackage = appPackage;
        // The catalogue is unsigned unless a test signs it; a test of the question takes this back.
        engine.attach(window->findChild<UpdateWorkflow*>());
        sleep = engine.sleep;
        window->show();
        timeline.watch(QStringLiteral("status"), [this] { return statusText(); });
        timeline.watch(QStringLiteral("component"), [this] { return label("componentLabel")->text(); });
        timeline.watch(QStringLiteral("device"), [this] { return deviceText(); });
        timeline.watch(QStringLiteral("page"), [this] { return QString::number(pages()->currentIndex()); });
        timeline.watch(QStringLiteral("heading"), [this] { return box("updatesHeading")->text(); });
        timeline.start();
    }

    template <typename T> T* child(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("The window has no %s.", name);
        return found;
    }
    // The window's workflow, whose steps tests watch and drive.
    UpdateWorkflow* workflow() const { return engine.workflow(); }
    QLabel* label(const char* name) const { return child<QLabel>(name); }
    MessageBox* box(const char* name) const { return child<MessageBox>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QProgressBar* bar(const char* name) const { return child<QProgressBar>(name); }
    QStackedWidget* pages() const { return child<QStackedWidget>("pages"); }
    QString statusText() const
    {
        const MessageBox* status = box("statusMessage");
        return status->currentMode() == int(MessageMode::Hidden) ? QString() : status->text();
    }
    QString promptText() const { return label("promptLabel")->text(); }
    QString deviceText() const
    {
        return window->findChild<QWidget*>(QStringLiteral("deviceInfo"))->property("text").toString();
    }

    QAction* action(const QString& text) const
    {
        const auto actions = window->findChildren<QAction*>();
        for (QAction* candidate : actions) {
            if (QString(candidate->text()).remove(QLatin1Char('&')) == QString(text).remove(QLatin1Char('&')))
                return candidate;
        }
        qFatal("The window has no action %s.", qPrintable(text));
        return nullptr;
    }

    QStringList planItems() const
    {
        QStringList items;
        const QListWidget* list = child<QListWidget>("componentList");
        for (int i = 0; i < list->count(); ++i)
            items.append(list->item(i)->text());
        return items;
    }

    // The window's message boxes that are open now.
    QList<Shown> messages() const
    {
        QList<Shown> shown;
        const auto boxes = window->findChildren<QMessageBox*>();
        for (const QMessageBox* open : boxes) {
            if (open->isVisible())
                shown.append({ open->windowTitle(), open->text(), open->icon() });
        }
        return shown;
    }
    QStringList messageTitles() const
    {
        QStringList titles;
        for (const Shown& shown : messages())
            titles.append(shown.title);
        return titles;
    }
    void closeMessages()
    {
        const auto boxes = window->findChildren<QMessageBox*>();
        for (QMessageBox* open : boxes)
            open->close();
    }

    bool selectionPageShown() const { return pages()->currentIndex() == 1; }

    // Clicks the button once it is enabled, as a user waiting for it would.
    bool click(const char* name, int timeout = 15000)
    {
        QPushButton* target = button(name);
        if (!QTest::qWaitFor([target] { return target->isEnabled() && target->isVisible(); }, timeout))
            return false;
        QTest::mouseClick(target, Qt::LeftButton);
        return true;
    }

    SimulatedDevice device(int index = 0) const { return engine.device(index); }

    // First made and last gone: its log hears every thread of the session.
    EngineFixture engine;
    LogCapture& log = engine.log;
    HttpTestServer& server = engine.server;
    UpdateCatalogue& catalogue = engine.catalogue;
    std::unique_ptr<VirtualBus>& bus = engine.bus;
    std::unique_ptr<MainWindow> window;
    ScriptedDialogs* dialogs = nullptr;
    EngineFixture::Sleep* sleep = nullptr;
    Timeline timeline;
};

// Waits for the window to show the selection page of a ready device.
inline bool waitForSelection(const WorkflowSession& session, int timeout = 15000)
{
    return QTest::qWaitFor([&session] { return session.selectionPageShown(); }, timeout);
}

} // namespace PelkPlus

namespace PelkPlus {

// The process of a suite of widgets alone (PELK_TEST_MAIN): a QApplication named as the updater.
struct WidgetTest
{
    static void prepare(int& /*argc*/, char** /*argv*/) { }
    WidgetTest(int& argc, char** argv)
        : application(argc, argv)
    {
        ApplicationIdentity::setNames(application);
    }
    QApplication application;
};

// The application of a window suite: its whole identity, and windows that may close without
// ending the test's event loops.
struct WindowApplication
{
    static void prepare(int& /*argc*/, char** /*argv*/) { }
    WindowApplication(int& argc, char** argv)
        : application(argc, argv)
    {
        ApplicationSetup::setIdentity(application);
        application.setQuitOnLastWindowClosed(false);
    }
    QApplication application;
};

// The process of a window suite: that application and then, once the names say where the settings
// live, a configuration manager.
struct WindowTest : WindowApplication
{
    using WindowApplication::WindowApplication;
    ConfigurationManager configuration;
};

} // namespace PelkPlus
