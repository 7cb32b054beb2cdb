#include "app/ApplicationPaths.h"
#include "app/ApplicationSetup.h"
#include "app/CharacterLocale.h"
#include "app/CommandLine.h"
#include "app/ConfigurationManager.h"
#include "app/InterruptWatcher.h"
#include "app/MessageHandler.h"
#include "device/DeviceInfo.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDebug>
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
    // A stop from the session or a service manager (SIGTERM, SIGHUP, SIGINT) is closing the window
    // without its question: deleting the window below stops a transfer after its current packet,
    // within the agent's bounded wait, and records how the update ended; the journal is current.
    PelkPlus::InterruptWatcher interrupts;
    QObject::connect(
        &interrupts, &PelkPlus::InterruptWatcher::interrupted, application.get(), [](int signalNumber) {
            qDebug() << "Stopped by signal" << signalNumber << "- closing.";
            QCoreApplication::exit(1);
        });
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
