#pragma once

#include "update/Component.h"
#include "workflow/MessageKind.h"
#include "workflow/WorkflowQuestions.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>

#include <optional>

class QAction;
class QActionGroup;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace PelkPlus {

class DeviceStatusView;
class DialogProvider;
class MessageBox;
class SleepPreventer;
class UpdateWorkflow;

// The updater's one window: the view of the update workflow. It shows the workflow's states,
// texts and progress, answers its questions with dialogs, and follows the device in its panel,
// a region of its own in the workflow's state machine. Buttons and menu actions are the workflow's
// commands.
class MainWindow : public QMainWindow, private WorkflowQuestions
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

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void showDevice();
    void refreshUpdateList();
    void showWorkflowMessage(PelkPlus::MessageKind kind, const QString& title, const QString& text);
    void showStatus(const QString& text, PelkPlus::MessageKind kind);
    void offerAppUpdate(const QString& version);
    void about();
    void showUpdateHistory();
    void showLogFolder();
    void saveDiagnosticsReport();

private:
    void createWidgets();
    void createMenus();
    void createStateMachine();
    DialogProvider* dialogs();
    // Asks before quitting while an update runs; true when the application may quit.
    bool confirmQuit();

    // The workflow's questions, answered with the dialog provider's dialogs.
    QString openFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString textInput(const QString& title, const QString& label, const QString& text, bool* ok) override;
    bool confirm(const QString& title, const QString& text) override;
    void critical(const QString& title, const QString& text) override;
    bool openUrl(const QUrl& url) override;
    void quitApplication() override;

    UpdateWorkflow* workflow = nullptr;
    QLabel* baseLogo = nullptr;
    QLabel* plusLogo = nullptr;
    QLabel* makerLogo = nullptr;
    QLabel* promptLabel = nullptr;
    DeviceStatusView* deviceStatusView = nullptr;
    QPushButton* checkUpdatesButton = nullptr;
    MessageBox* updatesHeading = nullptr;
    // Under the heading: says when the catalogue of the plan was not verified.
    QLabel* catalogueNote = nullptr;
    MessageBox* warningsBox = nullptr;
    QListWidget* componentList = nullptr;
    // Under the list: how long installing it takes.
    QLabel* estimateLabel = nullptr;
    QPushButton* startUpdateButton = nullptr;
    QLabel* componentLabel = nullptr;
    QLabel* downloadLabel = nullptr;
    QLabel* installLabel = nullptr;
    MessageBox* statusMessage = nullptr;
    QProgressBar* downloadProgress = nullptr;
    QProgressBar* installProgress = nullptr;
    // Under the bars: the whole update's progress and time left.
    QLabel* overallLabel = nullptr;
    QStackedWidget* pages = nullptr;
    QMenu* advancedMenu = nullptr;
    QActionGroup* installActions = nullptr;
    QAction* checkAppUpdateAction = nullptr;
    QPixmap baseLogoPixmap;
    QPixmap plusLogoPixmap;
    DialogProvider* dialogProvider = nullptr;
};

} // namespace PelkPlus
