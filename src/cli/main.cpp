// pelk-cli: the updater without a window, for scripts, repair benches and machines without a
// display. It shares the window's workflow, settings and single-instance lock.
#include "app/ApplicationIdentity.h"
#include "app/ApplicationPaths.h"
#include "app/CharacterLocale.h"
#include "app/ConfigurationManager.h"
#include "app/InterruptWatcher.h"
#include "app/LogFile.h"
#include "app/MessageHandler.h"
#include "app/UpdateHistory.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/DeviceLister.h"
#include "cli/StandardStreams.h"
#include "cli/WorkflowRunner.h"
#include "device/DeviceInfo.h"
#include "update/DownloadReplies.h"
#include "workflow/DeviceListing.h"
#include "workflow/DiagnosticsReport.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

#include <cstdio>
#include <memory>

using namespace PelkPlus;

namespace {

// Every install attempt recorded, newest first.
int showHistory(CliOutput& output)
{
    const QList<UpdateHistoryEntry> entries = UpdateHistory().entries();
    QJsonArray array;
    QStringList lines;
    for (int i = entries.size() - 1; i >= 0; --i) {
        // Records written before URLs were redacted may still carry a password or a token.
        QJsonObject entry = entries.at(i).toJson();
        entry.insert(QStringLiteral("source"), DownloadReplies::displaySource(entries.at(i).source));
        array.append(entry);
        lines.append(DiagnosticsReport::historyLine(entries.at(i)));
    }
    if (lines.isEmpty())
        output.info(QStringLiteral("No update has been recorded."));
    else
        output.result(lines.join(QLatin1Char('\n')));
    output.object(QJsonObject { { QStringLiteral("history"), array } });
    return 0;
}

int writeDiagnostics(CliOutput& output, const QString& path, const QList<DiagnosticsDevice>& devices,
    const QString& devicesNote)
{
    const QByteArray report = DiagnosticsReport::build(devices, UpdateHistory(), devicesNote).toUtf8();
    if (path.isEmpty()) {
        output.result(QString::fromUtf8(report.chopped(1)));
        return 0;
    }
    QSaveFile file(path);
    // It names the devices, their serial numbers and the catalogue: the owner's to send, nobody
    // else's to read.
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(report) != report.size() || !file.commit()) {
        output.error(
            QStringLiteral("The report could not be written to %1: %2").arg(path, file.errorString()),
            QStringLiteral("file"));
        return 1;
    }
    output.info(QStringLiteral("Diagnostics report written to %1").arg(path));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::FILE* results = StandardStreams::takeStandardOutput();
    registerDeviceMetaTypes();
    qInstallMessageHandler(messageHandler);

    QCoreApplication application(argc, argv);
    // After the application object, which sets the whole locale from the environment.
    CharacterLocale::makeUtf8Capable();
    ApplicationIdentity::setNames(application);

    CliOptions options;
    QString text;
    switch (CliOptions::parse(application.arguments(), &options, &text)) {
    case CliOptions::ShowHelp:
    case CliOptions::ShowVersion:
        std::fprintf(results, "%s\n", qPrintable(text));
        return 0;
    case CliOptions::UsageError:
        std::fprintf(stderr, "pelk-cli: %s\n", qPrintable(text));
        // A script that asked for JSON reads why from standard output too.
        if (application.arguments().contains(QStringLiteral("--json"))) {
            const QJsonObject error
                = CliOutput::errorObject(QStringLiteral("usage"), text.section(QLatin1Char('\n'), 0, 0));
            std::fprintf(results, "%s\n", QJsonDocument(error).toJson(QJsonDocument::Compact).constData());
        }
        return 2;
    case CliOptions::Run:
        break;
    }
    if (options.verbose)
        StandardStreams::sendStandardOutputToError();

    // The same log file as the window's, for a support request.
    LogFile::start();

    CliOutput output(results, options.json, options.quiet,
        options.json ? StandardStreams::isErrorTerminal() : StandardStreams::isTerminal(results));
    if (options.command == CliOptions::History) {
        const int code = showHistory(output);
        output.close(code);
        std::fflush(results);
        return code;
    }

    // The window and the command line never drive a device at once.
    QLockFile lock(ApplicationPaths::singleInstanceLockPath());
    if (options.command == CliOptions::Diagnostics && !lock.tryLock(0)) {
        // The report matters most while the window is stuck; its devices are left to it.
        const int code = writeDiagnostics(
            output, options.file, {}, QStringLiteral("not read: another instance of the updater is running"));
        output.close(code);
        std::fflush(results);
        return code;
    }
    if (!lock.isLocked() && !lock.tryLock(0)) {
        output.error(
            QStringLiteral("Another instance of the updater is already running."), QStringLiteral("busy"));
        output.close(3);
        return 3;
    }
    lock.setStaleLockTime(0);

    ConfigurationManager configuration;
    if (options.manifestUrl.isValid())
        configuration.setRunManifestUrl(options.manifestUrl);

    int result = 0;
    {
        InterruptWatcher interrupts;
        std::unique_ptr<QObject> command;
        if (options.command == CliOptions::Diagnostics) {
            auto* listing = new DeviceListing();
            command.reset(listing);
            QObject::connect(
                listing, &DeviceListing::finished, &application,
                [&, listing] {
                    QCoreApplication::exit(
                        writeDiagnostics(output, options.file, listing->devices(), QString()));
                },
                Qt::QueuedConnection);
            QObject::connect(
                &interrupts, &InterruptWatcher::interrupted, &application, [] { QCoreApplication::exit(1); });
            listing->start();
        } else if (options.command == CliOptions::Devices) {
            auto* lister = new DeviceLister(options.serial, &output);
            command.reset(lister);
            QObject::connect(
                lister, &DeviceLister::finished, &application, &QCoreApplication::exit, Qt::QueuedConnection);
            QObject::connect(
                &interrupts, &InterruptWatcher::interrupted, &application, [] { QCoreApplication::exit(1); });
            lister->start();
        } else {
            auto* runner = new WorkflowRunner(options, &output);
            command.reset(runner);
            QObject::connect(runner, &WorkflowRunner::finished, &application, &QCoreApplication::exit,
                Qt::QueuedConnection);
            QObject::connect(&interrupts, &InterruptWatcher::interrupted, runner, &WorkflowRunner::interrupt);
            runner->start();
        }
        result = application.exec();
        // Deleting the workflow ends a transfer after its current packet and lets the computer sleep.
    }
    output.close(result);
    std::fflush(results);
    return result;
}
