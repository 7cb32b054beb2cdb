#pragma once

#include "app/SemanticVersion.h"
#include "device/DeviceInfo.h"
#include "update/Component.h"

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QStateMachine>
#include <QStringList>
#include <QTimer>
#include <QUrl>

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

class DeviceAgent;
class DeviceMonitor;
class DeviceStatusView;
class DialogProvider;
class DownloadAgent;
class MessageBox;
class SleepPreventer;
class UpdateManager;

// The updater's one window and the owner of the whole workflow: the device monitor, the update
// manager, the component downloads and the sleep preventer. Buttons and menu actions only emit the
// window's argument-less signals; the state machine turns those, and the agents' reports, into the
// steps of the workflow.
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
    // Replaces the platform's sleep preventer; the window takes ownership.
    void setSleepPreventer(SleepPreventer* preventer);
    // The manifest's component type of the updater for this platform; none where the manifest
    // has no package for it, and then no newer updater is ever offered.
    void setAppPackageType(std::optional<ComponentType> type);
    static std::optional<ComponentType> platformApplicationType();

signals:
    void deviceConnected();
    void deviceReady();
    void deviceNotReadyForUpdate();
    void deviceReadyForUpdate();
    void deviceDisconnected();
    void deviceReadyToReboot();
    void deviceDone();
    void checkUpdatesRequest();
    void updatesAvailable();
    void noUpdatesAvailable();
    void startUpdateRequest();
    void forceInstallComponentRequest();
    void forceInstallAllComponentsRequest();
    void componentSelected();
    void componentDownloadSkipped();
    void updateFinished();
    void checkAppUpdatesRequest();
    void appUpdatesConfirmed();
    void appUpdatesRejected();
    void deviceFailure();
    void downloadFailure();
    void installFailure();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    // Device selection and update planning.
    void selectDevice();
    void forgetDevice();
    void onDeviceReady(const DeviceInfo& info);
    void onDeviceDisconnected();
    void onDeviceFailure();
    void showDevice();
    void resetUpdatePlan();
    void startUpdateCheck();
    void planUpdate(bool forceAll);
    void refreshUpdateList();

    // Carrying out an update.
    void beginUpdate();
    void selectNextComponent();
    void downloadComponent();
    void awaitUpdateMode();
    void onDownloadProgress(int request, float fraction);
    void onDownloadFinished();
    void startRebootTimer();
    void requestPowerCycle();
    void onInstallProgress(float fraction, long total);
    // The computer is kept awake exactly while updatingState is active, however it is left.
    void enableSleepPrevention();
    void disableSleepPrevention();

    // Advanced actions and the updater's own version.
    void installComponentFromFile(ComponentType type);
    void editManifestUrl();
    void evaluateAppUpdate();
    void openAppUpdateUrl();
    void about();

private:
    void createWidgets();
    void createMenus();
    void createStateMachine();
    DialogProvider* dialogs();
    Component* currentPlanEntry();

    SemanticVersion appVersion;
    QStateMachine stateMachine;
    QLabel* baseLogo = nullptr;
    QLabel* plusLogo = nullptr;
    QLabel* makerLogo = nullptr;
    QLabel* promptLabel = nullptr;
    DeviceStatusView* deviceStatusView = nullptr;
    QPushButton* checkUpdatesButton = nullptr;
    MessageBox* updatesHeading = nullptr;
    MessageBox* warningsBox = nullptr;
    QListWidget* componentList = nullptr;
    QPushButton* startUpdateButton = nullptr;
    QLabel* componentLabel = nullptr;
    QLabel* downloadLabel = nullptr;
    QLabel* installLabel = nullptr;
    MessageBox* statusMessage = nullptr;
    QProgressBar* downloadProgress = nullptr;
    QProgressBar* installProgress = nullptr;
    QStackedWidget* pages = nullptr;
    DeviceMonitor* deviceMonitor = nullptr;
    DeviceAgent* deviceAgent = nullptr;
    UpdateManager* updateManager = nullptr;
    DownloadAgent* downloadAgent = nullptr;
    QStringList warnings;
    QDateTime lastChecked;
    QList<Component> updatePlan;
    int currentComponent = -1;
    QTimer rebootTimer;
    QUrl appUpdateUrl;
    bool silentAppUpdateCheck = false;
    QMenu* advancedMenu = nullptr;
    QActionGroup* installActions = nullptr;
    QAction* checkAppUpdateAction = nullptr;
    QPixmap baseLogoPixmap;
    QPixmap plusLogoPixmap;
    SleepPreventer* sleepPreventer = nullptr;
    DialogProvider* dialogProvider = nullptr;
    std::optional<ComponentType> appPackageType = platformApplicationType();
};

} // namespace PelkPlus
