#include "app/ApplicationPaths.h"
#include "app/ApplicationSetup.h"
#include "app/CharacterLocale.h"
#include "app/CommandLine.h"
#include "app/ConfigurationManager.h"
#include "app/MessageHandler.h"
#include "device/DeviceInfo.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLockFile>

#include <memory>

int main(int argc, char* argv[])
{
    PelkPlus::registerDeviceMetaTypes();
    qInstallMessageHandler(PelkPlus::messageHandler);

    // --help, --version, a usage error or a missing display end here, before the GUI application
    // object (which would abort without a display) and before the single-instance lock.
    int exitCode = 0;
    if (PelkPlus::CommandLine::answersAlone(argc, argv, &exitCode))
        return exitCode;

    auto application = std::make_unique<QApplication>(argc, argv);
    // After the application object, which sets the whole locale from the environment.
    PelkPlus::CharacterLocale::makeUtf8Capable();
    PelkPlus::ApplicationSetup::setIdentity(*application);

    auto lock = std::make_unique<QLockFile>(PelkPlus::ApplicationPaths::singleInstanceLockPath());
    if (!lock->tryLock(0)) {
        PelkPlus::ApplicationSetup::reportAnotherInstance();
        lock.reset();
        application.reset();
        return 0;
    }
    lock->setStaleLockTime(0);

    auto* configuration = new PelkPlus::ConfigurationManager;

    auto* window = new PelkPlus::MainWindow;
    window->show();
    const QString bundle = PelkPlus::CommandLine::bundleFile(application->arguments());
    if (!bundle.isEmpty())
        window->installBundle(bundle);
    const int result = application->exec();

    delete window;
    delete configuration;
    lock.reset();
    application.reset();
    return result;
}
