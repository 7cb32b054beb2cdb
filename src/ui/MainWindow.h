#pragma once

#include "update/Component.h"
#include "workflow/MessageKind.h"
#include "workflow/UpdateOutcome.h"

#include <QMainWindow>
#include <QMessageBox>

#include <optional>

class QAction;
class QLabel;
class QStackedWidget;

namespace PelkPlus {

class AdvancedMenu;
class DevicePanel;
class DialogProvider;
class ProgressPage;
class SelectionPage;
class SleepPreventer;
class UpdateReport;
class UpdateWorkflow;
class WindowDialogs;

// The updater's one window: the view of the update workflow. It puts the device panel beside the
// pages (the connect prompt, the update list, the progress of an update), switches between them as
// the workflow moves, and shows the workflow's messages. Buttons and menu actions are the
// workflow's commands.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QSize sizeHint() const override;

    // Shows a modal message box and returns at once, without waiting for it to be closed; the box
    // deletes itself when it is.
    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text);

    // Replaces the blocking dialogs and the desktop services; the window takes ownership. Tests
    // answer the dialogs through it, so that nothing waits for a user.
    void setDialogProvider(DialogProvider* provider);
    // Replaces the platform's sleep preventer; the workflow takes ownership.
    void setSleepPreventer(SleepPreventer* preventer);
    // The manifest's component type of the updater for this platform; none where the manifest
    // has no package for it, and then no newer updater is ever offered.
    void setAppPackageType(std::optional<ComponentType> type);
    static std::optional<ComponentType> platformApplicationType();
    // An update bundle given on the command line: checked as soon as a device is ready.
    void installBundle(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createWidgets();
    void createMenus();
    void createStateMachine();
    void showWorkflowMessage(PelkPlus::MessageKind kind, const QString& title, const QString& text);
    void showUpdateEnd(PelkPlus::UpdateOutcome outcome, int mode, const QString& text);
    // The connect prompt, with the interrupted transfer ahead of it while one is to be told.
    void showConnectPrompt();

    UpdateWorkflow* workflow = nullptr;
    WindowDialogs* windowDialogs = nullptr;
    UpdateReport* updateReport = nullptr;
    DevicePanel* devicePanel = nullptr;
    QLabel* promptLabel = nullptr;
    SelectionPage* selectionPage = nullptr;
    ProgressPage* progressPage = nullptr;
    QStackedWidget* pages = nullptr;
    AdvancedMenu* advancedMenu = nullptr;
    QAction* checkAppUpdateAction = nullptr;
    QAction* installBundleAction = nullptr;
    QAction* advancedShortcut = nullptr;
    // The last update ended without all its components; the connect and replug prompts say what was
    // not installed, and why, until the device is back.
    bool interruptionToTell = false;
    // What the lasting strip says of the last update that did not end well; empty after one that did.
    QString failureToTell;
    // The connect prompt has asked for the device since the update ended: once it is back, the
    // list's note drops its next step.
    bool reconnectTold = false;
};

} // namespace PelkPlus
