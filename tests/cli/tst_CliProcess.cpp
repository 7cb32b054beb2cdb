// pelk-cli as a user runs it: its own process against pelk-devsim on a socket and the update
// catalogue on the loopback server, told apart by exit code, standard output and standard error.
#include "app/ApplicationPaths.h"
#include "device/DeviceProtocol.h"
#include "support/HttpTestServer.h"
#include "support/PrivateDBus.h"
#include "support/TestEnvironment.h"
#include "support/UpdateCatalogue.h"
#include "support/TestMain.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace PelkPlus;

namespace {

// A Pelk+ older than the catalogue in every component.
const QStringList oldPlus = { "--model", "plus", "--mcu", "3.1.2", "--dsp", "3.1.0", "--styles", "0x12",
    "--ensemble", "0x10203", "--reboot-ms", QString::number(DeviceProtocol::scaled(1800)) };

QString historyPath()
{
    return qEnvironmentVariable("XDG_DATA_HOME")
        + QStringLiteral("/Quellor/Pelk Updater/update-history.jsonl");
}

QString journalPath()
{
    return qEnvironmentVariable("XDG_DATA_HOME")
        + QStringLiteral("/Quellor/Pelk Updater/update-journal.json");
}

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

// A program in a terminal window of the given width: out holds all the terminal showed. Read
// while the loop runs, so the loopback server answers and the terminal never fills.
Run inTerminal(const QString& program, const QStringList& arguments, int columns)
{
    // Made before the fork: the child calls nothing but what a signal handler may.
    std::vector<QByteArray> words { QFile::encodeName(program) };
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        ::execv(argv.front(), argv.data());
        ::_exit(127);
    }
    Run run;
    if (child < 0)
        return run;
    ::fcntl(terminal, F_SETFL, ::fcntl(terminal, F_GETFL) | O_NONBLOCK);
    int status = 0;
    char buffer[4096];
    const bool ended = QTest::qWaitFor(
        [&] {
            for (ssize_t got; (got = ::read(terminal, buffer, sizeof(buffer))) > 0;)
                run.out.append(buffer, int(got));
            return ::waitpid(child, &status, WNOHANG) == child;
        },
        60000);
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ::close(terminal);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

class tst_CliProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void commands_data();
    void commands();
    void checkSaysWhatItRead_data();
    void checkSaysWhatItRead();
    void checkTellsOfAStoppedUpdate_data();
    void checkTellsOfAStoppedUpdate();
    void lowBattery_data();
    void lowBattery();
    void updateInstallsEveryImage();
    void retriesAfterTheDevice();
    void progressInATerminal_data();
    void progressInATerminal();
    void updateFromBundle_data();
    void updateFromBundle();
    void oneUpdaterPerDevice_data();
    void oneUpdaterPerDevice();
    void diagnosticsReport_data();
    void diagnosticsReport();
    void interruptDuringTransfer();
    void stoppedUpdateFinishedLater_data();
    void stoppedUpdateFinishedLater();
    void interruptWhileAsking();
    void characterTypeUnderCLocale();
    void recordAndReplayInstall_data();
    void recordAndReplayInstall();

private:
    void startDevices(const QStringList& arguments);
    // environment: "NAME=value" to set, "NAME" alone to remove.
    QProcess* startCli(const QStringList& arguments, const QStringList& environment = {});
    Run finish(QProcess* cli, int timeout = 60000);
    // An update started and under way on the device; null when it did not get there.
    QProcess* startedUpdate();
    QString devsimLog();
    // pelk-cli history --json: "component outcome" of each attempt, newest first.
    QStringList history();
    void publish(int mcuSize = 6000);
    QJsonObject expectedUpdate(const QString& name) const;

    QTemporaryDir dir;
    HttpTestServer server;
    UpdateCatalogue* catalogue = nullptr;
    QProcess devsim;
    QByteArray devsimOutput;
};

void tst_CliProcess::initTestCase()
{
    QVERIFY2(QFile::exists(qEnvironmentVariable("PELK_CLI")), "PELK_CLI names the command-line updater");
    QVERIFY(server.listen());
    qputenv("PELK_HIDSIM_SOCKET", QFile::encodeName(dir.filePath(QStringLiteral("bus"))));
}

void tst_CliProcess::cleanup()
{
    if (devsim.state() != QProcess::NotRunning) {
        devsim.write("quit\n");
        if (!devsim.waitForFinished(3000))
            devsim.kill();
        devsim.waitForFinished();
    }
    devsimOutput.clear();
    // A row's failed update leaves its journal, which the next row's device would be told of.
    QFile::remove(journalPath());
    QDir(QFileInfo(journalPath()).absolutePath() + QStringLiteral("/kept-files")).removeRecursively();
    delete catalogue;
    catalogue = nullptr;
}

void tst_CliProcess::publish(int mcuSize)
{
    delete catalogue;
    catalogue = new UpdateCatalogue(&server);
    catalogue->addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), mcuSize);
    catalogue->addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    catalogue->addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), 20000);
    catalogue->addComponent(
        QStringLiteral("PELK+"), QStringLiteral("Ensemble"), QStringLiteral("0x00020014"), 30000);
    catalogue->publish();
}

QJsonObject tst_CliProcess::expectedUpdate(const QString& name) const
{
    static const QHash<QString, QPair<QString, QString>> shown = {
        { "MP", { "MCU Firmware", "3.2.7" } },
        { "DSP", { "DSP Firmware", "3.1.2" } },
        { "Styles", { "Styles", "0x1A2B" } },
        { "Ensemble", { "Ensemble Audio", "0x20014" } },
    };
    const UpdateCatalogue::Entry* entry = catalogue->find(QStringLiteral("PELK+"), name);
    return QJsonObject { { "component", shown.value(name).first }, { "version", shown.value(name).second },
        { "size", double(entry->served.size()) } };
}

void tst_CliProcess::startDevices(const QStringList& arguments)
{
    devsim.setProcessChannelMode(QProcess::SeparateChannels);
    devsim.start(qEnvironmentVariable("PELK_DEVSIM"), arguments);
    QVERIFY(devsim.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(devsimLog().contains(QStringLiteral("listening on")), 5000);
}

QString tst_CliProcess::devsimLog()
{
    devsimOutput += devsim.readAllStandardOutput();
    return QString::fromLocal8Bit(devsimOutput);
}

QStringList tst_CliProcess::history()
{
    const Run run = finish(startCli({ "history", "--json" }));
    QStringList found;
    const QJsonArray entries
        = QJsonDocument::fromJson(run.out).object().value(QStringLiteral("history")).toArray();
    for (const QJsonValue& entry : entries) {
        found.append(entry.toObject().value(QStringLiteral("component")).toString() + QLatin1Char(' ')
            + entry.toObject().value(QStringLiteral("outcome")).toString());
    }
    return found;
}

QProcess* tst_CliProcess::startedUpdate()
{
    QProcess* cli = startCli({ "update", "--allow-unsigned", "--yes" });
    QByteArray out;
    const bool underWay = QTest::qWaitFor(
        [&] {
            out += cli->readAllStandardOutput();
            return out.contains("Update in progress...");
        },
        20000);
    return underWay ? cli : nullptr;
}

QProcess* tst_CliProcess::startCli(const QStringList& arguments, const QStringList& environment)
{
    auto* cli = new QProcess(this);
    cli->setProcessChannelMode(QProcess::SeparateChannels);
    QProcessEnvironment changed = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : environment) {
        if (entry.contains(QLatin1Char('=')))
            changed.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        else
            changed.remove(entry);
    }
    cli->setProcessEnvironment(changed);
    // A bundle takes the server's place.
    cli->start(qEnvironmentVariable("PELK_CLI"),
        arguments.contains(QStringLiteral("--bundle")) ? arguments
                                                       : arguments
                + QStringList { "--manifest-url", server.url(UpdateCatalogue::manifestPath()).toString() });
    return cli;
}

Run tst_CliProcess::finish(QProcess* cli, int timeout)
{
    // The loopback server answers from this event loop, so the wait must keep it running.
    if (!QTest::qWaitFor([cli] { return cli->state() == QProcess::NotRunning; }, timeout))
        cli->kill();
    cli->waitForFinished();
    Run run { cli->exitStatus() == QProcess::NormalExit ? cli->exitCode() : -1, cli->readAllStandardOutput(),
        QString::fromLocal8Bit(cli->readAllStandardError()) };
    cli->deleteLater();
    return run;
}

void tst_CliProcess::commands_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<bool>("lockHeld");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // The whole JSON object expected on standard output, or a text standard error must contain.
    QTest::addColumn<QString>("expected");

    const QString device
        = QStringLiteral(R"("model":"plus","serial":"PK000001","path":"sim/pelk-1",)"
                         R"("mcu":"3.1.2","dsp":"3.1.0","styles":"0x12","ensemble":"0x10203")");
    // devices lists the header's values and, beside them, what check shows.
    const QString listed = device
        + QStringLiteral(R"(,"displayed":{"mcu":"Production 1.2","dsp":"Production 1.0","styles":"0x12",)"
                         R"("ensemble":"0x10203"})");
    QTest::newRow("devices") << oldPlus << false << QStringList { "devices", "--json" } << 0
                             << QStringLiteral(R"({"devices":[{%1}]})").arg(listed);
    QTest::newRow("devices, as check shows them")
        << oldPlus << false << QStringList { "devices" } << 0
        << QStringLiteral("Pelk+ PK000001 (sim/pelk-1):\n  MCU Firmware:    Production 1.2\n"
                          "  DSP Firmware:    Production 1.0\n  Styles:          0x12\n");
    QTest::newRow("a Pelk listed without Styles")
        << QStringList { "--model", "base", "--mcu", "3.1.2", "--dsp", "3.1.0", "--ensemble", "0x10203" }
        << false << QStringList { "devices", "--json" } << 0
        << QStringLiteral(R"({"devices":[{"model":"base","serial":"PK000001","path":"sim/pelk-1","mcu":)"
                          R"("3.1.2","dsp":"3.1.0","ensemble":"0x10203","displayed":{"mcu":"Production 1.2",)"
                          R"("dsp":"Production 1.0","ensemble":"0x10203"}}]})");
    QTest::newRow("check") << oldPlus << false << QStringList { "check", "--json" } << 0
                           << QStringLiteral(
                                  R"({"device":{%1},"updates":"MP DSP Styles Ensemble","verified":false})")
                                  .arg(device);
    QTest::newRow("check the chosen of two")
        << oldPlus
            + QStringList { "--add-device", "--serial", "PK000002", "--mcu", "3.2.7", "--dsp", "3.1.2",
                  "--styles", "0x1A2B", "--ensemble", "0x20014" }
        << false << QStringList { "check", "--json", "--device", "PK000002" } << 0
        << QStringLiteral(
               R"({"device":{"model":"plus","serial":"PK000002","path":"sim/pelk-2","mcu":"3.2.7",)"
               R"("dsp":"3.1.2","styles":"0x1A2B","ensemble":"0x20014"},"updates":"","verified":false})");
    // Listed, but nothing is installed from a catalogue no trusted key signed unless asked for.
    QTest::newRow("update refuses an unsigned catalogue")
        << oldPlus << false << QStringList { "update", "--yes", "--json" } << 6
        << QStringLiteral(
               R"({"device":{%1},"updates":"MP DSP Styles Ensemble","verified":false,"error":{"kind":)"
               R"("unsigned","message":"The update catalogue is not signed by a trusted key, so nothing )"
               R"(shows that its files are the ones the publisher released; they could have been changed )"
               R"(on the way. Nothing was sent to the device. Give --allow-unsigned to install from it )"
               R"(anyway."}})")
               .arg(device);
    QTest::newRow("--allow-unsigned belongs to update")
        << oldPlus << false << QStringList { "check", "--allow-unsigned" } << 2
        << QStringLiteral("--allow-unsigned belongs to update.");
    QTest::newRow("no device") << QStringList() << false << QStringList { "check" } << 2
                               << QStringLiteral("No device connected.");
    QTest::newRow("two devices") << oldPlus + QStringList { "--add-device" } << false
                                 << QStringList { "update", "--yes" } << 2
                                 << QStringLiteral(
                                        "2 devices are connected; choose one with --device SERIAL:\n"
                                        "  Pelk+ PK000001 (sim/pelk-1)\n  Pelk+ PK000002 (sim/pelk-2)");
    // hidapi lists a node once per usage of its report descriptor, with one path.
    QTest::newRow("one node listed twice")
        << oldPlus + QStringList { "--duplicate-entries", "2" } << false
        << QStringList { "devices", "--json" } << 0 << QStringLiteral(R"({"devices":[{%1}]})").arg(listed);
    // Interfaces of one device are one device; the first listed carries the update.
    QTest::newRow("two interfaces, the device chosen")
        << oldPlus + QStringList { "--interfaces", "2" } << false
        << QStringList { "check", "--json", "--device", "PK000001" } << 0
        << QStringLiteral(R"({"device":{%1},"updates":"MP DSP Styles Ensemble","verified":false})")
               .arg(device);
    QTest::newRow("two interfaces listed as one device")
        << oldPlus + QStringList { "--interfaces", "2" } << false << QStringList { "devices", "--json" } << 0
        << QStringLiteral(R"({"devices":[{%1}]})").arg(listed);
    // udev grants the seat's user access a moment after the node appears.
    QTest::newRow("access granted after a moment")
        << oldPlus + QStringList { "--refuse-open-ms", "1800" } << false << QStringList { "check", "--json" }
        << 0
        << QStringLiteral(R"({"device":{%1},"updates":"MP DSP Styles Ensemble","verified":false})")
               .arg(device);
    const QString refused = QStringLiteral(
        "The device at sim/pelk-1 cannot be opened: this user account is not allowed to open it.");
    QTest::newRow("access never granted")
        << oldPlus + QStringList { "--refuse-open-ms", "600000" } << false << QStringList { "check" } << 2
        << refused
            + QStringLiteral("\n\nThe udev rule installed with the updater gives access to the user "
                             "logged in at the computer itself, not to a session over ssh");
    QTest::newRow("access never granted, devices")
        << oldPlus + QStringList { "--refuse-open-ms", "600000" } << false << QStringList { "devices" } << 2
        << refused + QStringLiteral("\n\nThe udev rule");
    QTest::newRow("access never granted, how to check")
        << oldPlus + QStringList { "--refuse-open-ms", "600000" } << false
        << QStringList { "update", "--yes" } << 2
        << QStringLiteral("To check who may open it: ls -l sim/pelk-1 and getfacl sim/pelk-1");
    QTest::newRow("unknown serial") << oldPlus << false << QStringList { "devices", "--device", "PK9" } << 2
                                    << QStringLiteral("No device with serial number PK9 is connected.");
    // The workflow tries the bus before the command looks for its device: the device asked for is
    // missing, not failing to connect.
    QTest::newRow("unknown serial, check")
        << oldPlus << false << QStringList { "check", "--device", "PK9" } << 2
        << QStringLiteral("No device with serial number PK9 is connected.");
    QTest::newRow("unknown serial, update, as JSON")
        << oldPlus << false << QStringList { "update", "--yes", "--json", "--device", "PK9" } << 2
        << QStringLiteral(R"({"error":{"kind":"no-device","message":"No device with serial number PK9 is )"
                          R"x(connected. Connected:\n  Pelk+ PK000001 (sim/pelk-1)"}})x");
    // Whatever fails, a script reads one object that says what and why.
    QTest::newRow("no device, as JSON")
        << QStringList() << false << QStringList { "check", "--json" } << 2
        << QStringLiteral(R"({"error":{"kind":"no-device","message":"No device connected."}})");
    QTest::newRow("another updater, as JSON")
        << oldPlus << true << QStringList { "devices", "--json" } << 3
        << QStringLiteral(
               R"({"error":{"kind":"busy","message":"Another instance of the updater is already running."}})");
    QTest::newRow("usage error, as JSON")
        << QStringList() << false << QStringList { "chek", "--json" } << 2
        << QStringLiteral(R"({"error":{"kind":"usage","message":"Unknown command: chek"}})");
    QTest::newRow("another updater") << oldPlus << true << QStringList { "update", "--yes" } << 3
                                     << QStringLiteral("Another instance of the updater is already running.");
    // The toolkit's own options are neither offered nor taken.
    QTest::newRow("no toolkit help") << QStringList() << false << QStringList { "--help-all" } << 2
                                     << QStringLiteral("Unknown option 'help-all'.");
    // Up to date over USB is not up to date: the catalogue's MCU firmware needs the service route.
    QTest::newRow("only a service update")
        << QStringList { "--model", "plus", "--mcu", "0.6.3", "--dsp", "3.1.2", "--styles", "0x1A2B",
               "--ensemble", "0x20014" }
        << false << QStringList { "check" } << 5
        << QStringLiteral(
               "An update exists that cannot be installed over USB: this device's MCU firmware must "
               "be programmed into the MCU directly, by a service centre.");
    QTest::newRow("install without type") << oldPlus << false << QStringList { "install", "a.bin" } << 2
                                          << QStringLiteral("install needs --type mcu|dsp|styles|ensemble.");

    // A file of the kind the Advanced menu installs: the device reports the version it carries.
    const QString firmware = dir.filePath(QStringLiteral("pelk-Update.bin"));
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(UpdateCatalogue::image(6000, QStringLiteral("3.3.1"), 7));
    file.close();
    QTest::newRow("install")
        << oldPlus << false
        << QStringList { "install", firmware, "--type", "mcu", "--yes", "--json", "--quiet" } << 0
        << QString(R"({"device":{%1},"installed":[{"component":"MCU Firmware","before":"Production 1.2",)"
                   R"("confirmed":false}],"notApplied":"","verified":false,"sleepWarning":"This computer )"
                   R"(may sleep during the update: keep it awake until the update ends."})")
               .arg(QString(device).replace("3.1.2", "3.3.1"));
    // No login manager and no desktop to ask here: said before the first byte goes to the device.
    QTest::newRow("install says the computer may sleep")
        << oldPlus << false << QStringList { "install", firmware, "--type", "mcu", "--yes", "--json" } << 0
        << QStringLiteral("pelk-cli: This computer may sleep during the update: keep it awake until the "
                          "update ends.\nComponent 1 of 1, 0 % of the update done");
    QTest::newRow("install says it is complete")
        << oldPlus << false << QStringList { "install", firmware, "--type", "mcu", "--yes" } << 0
        << QStringLiteral(
               "Update complete: 1 component installed, 0 verified (no version known for: MCU Firmware).");
    QTest::newRow("install a file of another kind")
        << oldPlus << false << QStringList { "install", firmware, "--type", "dsp" } << 2
        << QStringLiteral("Invalid File: This file does not seem to be a valid DSP Firmware file: its name "
                          "must end in \".ldr\".");
    // DSP firmware is listed by its text and sent as bytes: the label says they are one file.
    const QString dspFile = dir.filePath(QStringLiteral("pelk.ldr"));
    QFile dsp(dspFile);
    QVERIFY(dsp.open(QIODevice::WriteOnly));
    const qint64 dspTextSize = dsp.write(UpdateCatalogue::dspText(UpdateCatalogue::image(6000, "3.1.3", 9)));
    dsp.close();
    QTest::newRow("DSP sizes of one file")
        << oldPlus << false << QStringList { "install", dspFile, "--type", "dsp", "--yes" } << 0
        << QStringLiteral("  Installing (6 KB, from the %1 KB file): 100%").arg((dspTextSize + 1023) / 1024);
    // A file on this computer is not downloaded ("!": not in the output).
    QTest::newRow("local install downloads nothing")
        << oldPlus << false << QStringList { "install", dspFile, "--type", "dsp", "--yes" } << 0
        << QStringLiteral("!Downloading");
    // The versions after an install, as the device shows them: a Pelk has no Styles.
    QTest::newRow("a Pelk's versions")
        << QStringList { "--model", "base", "--mcu", "3.1.2", "--dsp", "3.1.0", "--ensemble", "0x10203" }
        << false << QStringList { "install", firmware, "--type", "mcu", "--yes" } << 0
        << QStringLiteral("!  Styles:");
    // As update does, install asks first; a closed standard input is no yes.
    QTest::newRow("a closed standard input ends the prompt's line")
        << oldPlus << false << QStringList { "install", firmware, "--type", "mcu" } << 1
        << QStringLiteral("now? [y/N] \n");
    QTest::newRow("install asks first")
        << oldPlus << false << QStringList { "install", firmware, "--type", "mcu" } << 1
        << QStringLiteral("Install MCU Firmware from %1 now? [y/N] ").arg(firmware);
    // The device takes the Styles image but keeps reporting its old version: the update ends there,
    // naming what it did not take, instead of waiting for an end that never comes.
    QTest::newRow("device keeps its old version")
        << QStringList { "--model", "plus", "--mcu", "3.2.7", "--dsp", "3.1.2", "--styles", "0x12",
               "--ensemble", "0x20014", "--reboot-ms", QString::number(DeviceProtocol::scaled(1800)),
               "--keep-version" }
        << false << QStringList { "update", "--allow-unsigned", "--yes" } << 1
        << QStringLiteral("The device does not report the new version of: Styles");
    // The list of what is to be installed and the one of what was not taken are told apart.
    QTest::newRow("device keeps its old version, as JSON")
        << QStringList { "--model", "plus", "--mcu", "3.2.7", "--dsp", "3.1.2", "--styles", "0x12",
               "--ensemble", "0x20014", "--reboot-ms", QString::number(DeviceProtocol::scaled(1800)),
               "--keep-version" }
        << false << QStringList { "update", "--allow-unsigned", "--yes", "--json" } << 1
        << QStringLiteral(
               R"({"device":{"model":"plus","serial":"PK000001","path":"sim/pelk-1","mcu":"3.2.7",)"
               R"("dsp":"3.1.2","styles":"0x12","ensemble":"0x20014"},"installed":[],)"
               R"("notApplied":"Styles","verified":false,"error":{"kind":"not-applied","message":)"
               R"("The device does not report the new version of: Styles"},"sleepWarning":"This computer )"
               R"(may sleep during the update: keep it awake until the update ends."})");
    // One not taken ends the update: the one never sent after it was not refused.
    QTest::newRow("device keeps its old version, the next one not sent, as JSON")
        << QStringList { "--model", "plus", "--mcu", "3.2.7", "--dsp", "3.1.2", "--styles", "0x12",
               "--ensemble", "0x10203", "--reboot-ms", QString::number(DeviceProtocol::scaled(1800)),
               "--keep-version" }
        << false << QStringList { "update", "--allow-unsigned", "--yes", "--json" } << 1
        << QStringLiteral(
               R"({"device":{"model":"plus","serial":"PK000001","path":"sim/pelk-1","mcu":"3.2.7",)"
               R"("dsp":"3.1.2","styles":"0x12","ensemble":"0x10203"},"installed":[],)"
               R"("notApplied":"Styles","verified":false,"error":{"kind":"not-applied","message":)"
               R"("The device does not report the new version of: Styles"},"sleepWarning":"This computer )"
               R"(may sleep during the update: keep it awake until the update ends."})");
    QTest::newRow("device lost while sending")
        << oldPlus + QStringList { "--unplug-after", "20" } << false
        << QStringList { "update", "--allow-unsigned", "--yes" } << 1
        << QStringLiteral(
               "Update Failure: The update could not be completed.\n\nThe device was disconnected "
               "before the update was finished. Connect it again: what was not installed is planned "
               "again once it is back.");
    // Pulled out during Styles: a lost device, as the window and the history say, not a failed install.
    QTest::newRow("device lost during Styles, as JSON")
        << QStringList { "--model", "plus", "--mcu", "3.2.7", "--dsp", "3.1.2", "--styles", "0x12",
               "--ensemble", "0x20014", "--unplug-after", "20" }
        << false << QStringList { "update", "--allow-unsigned", "--yes", "--json" } << 1
        << QStringLiteral(
               R"({"error":{"kind":"device-lost","message":"Update Failure: The update could not be )"
               R"(completed.\n\nThe device was disconnected before the update was finished. Connect it )"
               R"(again: what was not installed is planned again once it is back."},"sleepWarning":"This )"
               R"(computer may sleep during the update: keep it awake until the update ends."})");
    // Waits for the device that end with the real bounds (a minute for the restart, half of one for
    // the header) and say what to do next.
    QTest::newRow("device never comes back after its restart")
        << oldPlus + QStringList { "--no-return" } << false
        << QStringList { "update", "--allow-unsigned", "--yes" } << 1
        << QStringLiteral("Reboot Failure: The device failed to reboot after update.\n\nPlease unplug the "
                          "device, wait five seconds and plug it in again.");
    QTest::newRow("device comes back but never answers")
        << oldPlus + QStringList { "--no-header-after-reboot" } << false
        << QStringList { "update", "--allow-unsigned", "--yes" } << 1
        << QStringLiteral("Reboot Failure: The device failed to reboot after update.");
}

void tst_CliProcess::commands()
{
    QFETCH(QStringList, devices);
    QFETCH(bool, lockHeld);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);

    publish();
    QFile::remove(historyPath());
    if (!devices.isEmpty())
        startDevices(devices);
    QLockFile lock(ApplicationPaths::singleInstanceLockPath());
    if (lockHeld)
        QVERIFY(lock.tryLock(0));

    // Long enough for the longest wait for a device to end, and the update before it.
    QProcess* cli = startCli(arguments);
    // Nobody answers a question.
    cli->closeWriteChannel();
    const Run run = finish(cli, 100000);
    QVERIFY2(
        run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    // The manifest URL of the command line was for that run only.
    const QSettings settings(QStringLiteral("Quellor"), QStringLiteral("Pelk Updater"));
    QVERIFY(!settings.contains(QStringLiteral("update/manifest-url")));
    if (expected.startsWith(QLatin1Char('!'))) {
        const QString all = run.err + QString::fromLocal8Bit(run.out);
        QVERIFY2(!all.contains(expected.mid(1)), qPrintable(all));
        return;
    }
    if (!expected.startsWith(QLatin1Char('{'))) {
        QVERIFY2(run.err.contains(expected) || QString::fromLocal8Bit(run.out).contains(expected),
            qPrintable(run.err + QString::fromLocal8Bit(run.out)));
        return;
    }

    QJsonObject wanted = QJsonDocument::fromJson(expected.toUtf8()).object();
    // The plan's rows come from the catalogue: their sizes are what the server announces.
    for (const QString& list : { QStringLiteral("updates"), QStringLiteral("notApplied") }) {
        if (!wanted.contains(list))
            continue;
        QJsonArray updates;
        const QStringList names = wanted.value(list).toString().split(' ', Qt::SkipEmptyParts);
        for (const QString& name : names)
            updates.append(expectedUpdate(name));
        wanted.insert(list, updates);
    }
    QVERIFY2(run.out.endsWith('\n') && run.out.count('\n') == 1, run.out.constData());
    QVERIFY2(QJsonDocument::fromJson(run.out).object() == wanted, run.out.constData());
}

void tst_CliProcess::checkSaysWhatItRead_data()
{
    QTest::addColumn<QByteArray>("served"); // instead of the catalogue; empty for the catalogue
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("login page")
        << QByteArray("<!DOCTYPE html><html><body>Sign in to the hotel Wi-Fi</body></html>")
        << QByteArray("text/html") << 1 << QString()
        << "The update server did not send an update catalogue (it sent a web page; a "
           "network login page may be in the way).";
    QTest::newRow("another document")
        << QByteArray("<?xml version=\"1.0\"?><status>ok</status>") << QByteArray("application/xml") << 1
        << QString() << "The document the update server sent is not an update catalogue.";
    QTest::newRow("catalogue no key signed")
        << QByteArray() << QByteArray() << 0
        << "The update catalogue was not verified: no catalogue signing key is trusted." << QString();
}

void tst_CliProcess::checkSaysWhatItRead()
{
    QFETCH(QByteArray, served);
    QFETCH(QByteArray, contentType);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    publish();
    if (!served.isEmpty()) {
        HttpTestServer::Reply reply;
        reply.body = served;
        reply.headers.append({ "Content-Type", contentType });
        server.setReply(UpdateCatalogue::manifestPath(), reply);
    }
    startDevices(oldPlus);
    const Run run = finish(startCli({ "check" }));
    QVERIFY2(
        run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(QString::fromUtf8(run.out).contains(out), run.out.constData());
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    // Nothing but a catalogue leads to a plan.
    QCOMPARE(QString::fromUtf8(run.out).contains(QLatin1String("can be updated")), served.isEmpty());
}

void tst_CliProcess::checkTellsOfAStoppedUpdate_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("text") << QStringList { "check" }
                          << "The last update of this Pelk+ stopped during Styles on 8 December at 14:03.";
    QTest::newRow("JSON")
        << QStringList { "check", "--json" }
        << R"("interruptedUpdate":{"component":"Styles","message":"The last update of this )"
           R"(Pelk+ stopped during Styles on 8 December at 14:03.","step":"sending","time":"%1"})";
}

// The journal an update of the device left when it stopped, as the updater writes it.
void tst_CliProcess::checkTellsOfAStoppedUpdate()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    const QString time
        = QDateTime(QDate(2026, 12, 8), QTime(14, 3), Qt::LocalTime).toUTC().toString(Qt::ISODate);
    const QString digest = QString(64, QLatin1Char('a'));
    const QString journal
        = QStringLiteral(R"({"format":"pelk-update-journal-1","device":{"model":"Pelk+","serial":"PK000001",)"
                         R"("path":"sim/pelk-1"},"plan":[{"type":2,"component":"Styles","version":"0x1A2B",)"
                         R"("file":"Styles","sha256":"%1"}],"current":0,"step":"sending","time":"%2"})")
              .arg(digest, time);
    QVERIFY(QDir().mkpath(QFileInfo(journalPath()).absolutePath()));
    QFile file(journalPath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(journal.toUtf8()) > 0);
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    publish();
    startDevices(oldPlus);
    const Run run = finish(startCli(arguments));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(QString::fromUtf8(run.out).contains(expected.arg(time)), run.out.constData());
}

void tst_CliProcess::lowBattery_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("update") << QStringList { "update", "--allow-unsigned" } << 4;
    QTest::newRow("update --yes") << QStringList { "update", "--allow-unsigned", "--yes" } << 4;
    QTest::newRow("update, as JSON") << QStringList { "update", "--allow-unsigned", "--json" } << 4;
    QTest::newRow("update --ignore-power")
        << QStringList { "update", "--allow-unsigned", "--ignore-power" } << 4;
    QTest::newRow("update --yes --ignore-power")
        << QStringList { "update", "--allow-unsigned", "--yes", "--ignore-power" } << 0;
}

// On a laptop's battery at 12 % that nothing charges, as a stand-in UPower tells it.
void tst_CliProcess::lowBattery()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    if (!PrivateDBus::daemonAvailable() || !PrivateDBus::dbusmockAvailable())
        PELK_SKIP_UNLESS_REQUIRED(
            "dbus-daemon and python3-dbusmock are needed to stand in for the power service.");

    PrivateDBus power;
    QString error;
    QVERIFY2(power.start(&error), qPrintable(error));
    QVERIFY2(power.startMock(QStringLiteral("upower"), &error), qPrintable(error));
    const QString name = QStringLiteral("pelk-test-cli-power");
    {
        QDBusConnection bus = QDBusConnection::connectToBus(power.address(), name);
        QTRY_VERIFY_WITH_TIMEOUT(
            bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UPower")).value(), 15000);
        const auto set = [&bus](const QString& path, const QString& interface, const QString& property,
                             const QVariant& value) {
            QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.UPower"), path,
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
            call << interface << property << QVariant::fromValue(QDBusVariant(value));
            return bus.call(call).type() == QDBusMessage::ReplyMessage;
        };
        const QString display = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
        const QString device = QStringLiteral("org.freedesktop.UPower.Device");
        QVERIFY(set(QStringLiteral("/org/freedesktop/UPower"), QStringLiteral("org.freedesktop.UPower"),
            QStringLiteral("OnBattery"), true));
        QVERIFY(set(display, device, QStringLiteral("IsPresent"), true));
        QVERIFY(set(display, device, QStringLiteral("State"), 2u));
        QVERIFY(set(display, device, QStringLiteral("Percentage"), 12.0));
    }
    QDBusConnection::disconnectFromBus(name);

    publish();
    QFile::remove(historyPath());
    startDevices(oldPlus);
    const QByteArray systemBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", power.address().toUtf8());
    QProcess* cli = startCli(arguments);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus);
    const Run run = finish(cli, 120000);
    QVERIFY2(
        run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    const QString question = QStringLiteral("Low Battery: The computer is running on its battery at 12 %");
    if (exitCode == 0) {
        QVERIFY2(QString::fromLocal8Bit(run.out).contains(question), run.out.constData());
        QCOMPARE(history().size(), 4);
        return;
    }
    QVERIFY2(run.err.contains(question) && run.err.contains(QLatin1String("Nothing was sent to the device.")),
        qPrintable(run.err));
    if (arguments.contains(QLatin1String("--json")))
        QVERIFY2(run.out.contains(R"("kind":"power")"), run.out.constData());
    QVERIFY2(
        !QString::fromLocal8Bit(run.out).contains(QLatin1String("component(s) now?")), run.out.constData());
    QVERIFY(history().isEmpty());
}

void tst_CliProcess::updateInstallsEveryImage()
{
    publish();
    QFile::remove(historyPath());
    // As through hidapi: the node is listed twice and is root's alone for a second after it
    // appears (the plug-in, each of the four reboots), until udev grants the user access.
    startDevices(oldPlus + QStringList { "--duplicate-entries", "2", "--refuse-open-ms", "1000" });
    const Run run = finish(startCli({ "update", "--allow-unsigned", "--yes" }), 120000);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(history(),
        QStringList({ "Ensemble Audio verified", "Styles verified", "DSP Firmware verified",
            "MCU Firmware verified" }));

    // The report names the bus, the device with its new versions and what was done to it.
    const QString report = QString::fromUtf8(finish(startCli({ "diagnostics" })).out);
    for (const QString& line :
        { QStringLiteral("HID backend: virtual bus (socket %1)").arg(dir.filePath(QStringLiteral("bus"))),
            QStringLiteral("Pelk+, serial number PK000001, path sim/pelk-1: MCU Firmware Production 2.7"),
            QStringLiteral("Production 1.2 -> Production 2.7 (3.2.7)  verified"),
            QStringLiteral("Sending file type 3") })
        QVERIFY2(report.contains(line), qPrintable(line + QStringLiteral("\n") + report));

    // The window's instructions, each component in turn, then the rebooted device's versions.
    const QString out = QString::fromLocal8Bit(run.out);
    QCOMPARE(out.count(QStringLiteral("Waiting for the device to enter update mode...\n"
                                      "Please DO NOT disconnect or power down the device!")),
        4);
    QVERIFY(out.contains(QStringLiteral("Updating Ensemble Audio (Component 4/4)")));
    QVERIFY2(out.endsWith(QStringLiteral("Device versions:\n  MCU Firmware:    Production 2.7\n"
                                         "  DSP Firmware:    Production 1.2\n  Styles:          0x1A2B\n"
                                         "  Ensemble Audio:  0x20014\n"
                                         "Update complete: 4 components installed and verified.\n")),
        qPrintable(out));

    // The device took each image whole: its version marker and, for the firmware streams, the
    // checksum of every byte.
    const QString log = devsimLog();
    QVERIFY2(!log.contains(QStringLiteral("violation")), qPrintable(log));
    const char* names[] = { "MP", "DSP", "Styles", "Ensemble" };
    const char* installed[] = { "MCU firmware", "DSP firmware", "Styles", "Ensemble Audio" };
    for (int i = 0; i < 4; ++i) {
        const UpdateCatalogue::Entry* entry
            = catalogue->find(QStringLiteral("PELK+"), QLatin1String(names[i]));
        quint8 checksum = 0;
        for (char byte : entry->image)
            checksum ^= quint8(byte);
        const QRegularExpression line(
            QStringLiteral("installed %1: (\\d+) bytes, checksum (\\w\\w), version %2\n")
                .arg(QLatin1String(installed[i]), entry->version));
        const QRegularExpressionMatch match = line.match(log);
        QVERIFY2(match.hasMatch(), names[i]);
        QVERIFY(match.captured(1).toInt() >= entry->image.size());
        if (i < 2)
            QCOMPARE(match.captured(2).toUInt(nullptr, 16), uint(checksum));
    }
}

// The start-up check may try again before the device is ready; what it says follows the device.
void tst_CliProcess::retriesAfterTheDevice()
{
    publish();
    HttpTestServer::Reply busy;
    busy.body = catalogue->manifest();
    busy.faultStatus = 503;
    // The server counts the requests of every row before.
    busy.faultyAnswers = server.requestCount(UpdateCatalogue::manifestPath(), "GET") + 1;
    server.setReply(UpdateCatalogue::manifestPath(), busy);
    startDevices(oldPlus);
    const Run run = finish(startCli({ "check" }), 60000);
    const QString out = QString::fromLocal8Bit(run.out);
    const int ready = out.indexOf(QLatin1String(" is ready."));
    QVERIFY2(ready >= 0 && out.indexOf(QLatin1String("Trying again")) > ready, qPrintable(out + run.err));
}

void tst_CliProcess::progressInATerminal_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("80 columns") << true;
    // pelk-cli install ... | tee log
    QTest::newRow("standard output a pipe") << false;
}

void tst_CliProcess::progressInATerminal()
{
    QFETCH(bool, terminal);
    publish();
    startDevices(oldPlus);
    const QString firmware = dir.filePath(QStringLiteral("pelk-Update.bin"));
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(UpdateCatalogue::image(6000, QStringLiteral("3.3.1"), 7));
    file.close();
    const QStringList install { "install", firmware, "--type", "mcu", "--yes" };

    if (terminal) {
        const Run run = inTerminal(qEnvironmentVariable("PELK_CLI"),
            install
                + QStringList { "--manifest-url", server.url(UpdateCatalogue::manifestPath()).toString() },
            80);
        QVERIFY2(run.exitCode == 0 && run.out.contains("\r  Installing"), run.out.constData());
        // Every bar drawn again in place (after a carriage return that ends no line) within 80.
        for (const QByteArray& line : QByteArray(run.out).replace("\r\n", "\n").split('\n')) {
            for (const QByteArray& bar : line.split('\r').mid(1))
                QVERIFY2(QByteArray(bar).replace("\x1b[K", "").size() < 80, bar.constData());
        }
        return;
    }
    const Run run = finish(startCli(install), 60000);
    QVERIFY2(run.exitCode == 0 && !run.out.contains('\r'), run.out.constData());
    // The install's bar as a few plain lines: its first, each quarter, and its end.
    const QStringList bars = QString::fromLocal8Bit(run.out)
                                 .split(QLatin1Char('\n'))
                                 .filter(QRegularExpression(QStringLiteral("^  Installing.*: \\d+%$")));
    QVERIFY2(bars.size() <= 5 && bars.last().endsWith(QLatin1String(": 100%")), run.out.constData());
}

void tst_CliProcess::updateFromBundle_data()
{
    QTest::addColumn<QString>("product");    // of every component the bundle holds
    QTest::addColumn<QString>("trustedKey"); // the key the bundle is signed with, or another
    QTest::addColumn<bool>("cutShort");      // the bundle file is cut to half its size
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // on standard error, or output when it is empty

    QTest::newRow("signed, every component")
        << "PELK+"
        << "signing" << false << 0 << "Update complete: 4 components installed and verified.";
    QTest::newRow("for the other model")
        << "PELK"
        << "signing" << false << 1 << "The update bundle holds no update for the Pelk+.";
    QTest::newRow("signed by a key not trusted") << "PELK+"
                                                 << "other" << false << 1 << "could not be verified";
    QTest::newRow("cut short") << "PELK+"
                               << "signing" << true << 1 << "cut short or damaged";
}

void tst_CliProcess::updateFromBundle()
{
    QFETCH(QString, product);
    QFETCH(QString, trustedKey);
    QFETCH(bool, cutShort);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);

    QTemporaryDir source;
    const auto tool = [](const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral(PELK_CATALOGUE), arguments);
        return process.waitForFinished() && process.exitCode() == 0;
    };
    for (const QString& key : { QStringLiteral("signing"), QStringLiteral("other") })
        QVERIFY(tool({ "keygen", source.filePath(key) }));
    QFile trusted(source.filePath(trustedKey + QStringLiteral(".pub")));
    QVERIFY(trusted.open(QIODevice::ReadOnly));
    QSettings().setValue(
        QStringLiteral("update/trusted-keys"), QString::fromLatin1(trusted.readAll().trimmed()));

    publish();
    QStringList arguments { "bundle", "--out", source.filePath(QStringLiteral("bundle.tar.gz")), "--sign-key",
        source.filePath(QStringLiteral("signing")) };
    for (const UpdateCatalogue::Entry& entry : catalogue->entries()) {
        QFile file(source.filePath(QFileInfo(entry.path).fileName()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(entry.served) == entry.served.size());
        arguments << "--component"
                  << QStringList { product, entry.name, entry.version, file.fileName() }.join(':');
    }
    QVERIFY(tool(arguments));
    // Cut short in the middle of a file, as a copy that did not finish.
    QFile written(source.filePath(QStringLiteral("bundle.tar.gz")));
    if (cutShort)
        QVERIFY(written.resize(written.size() / 2));

    QFile::remove(historyPath());
    startDevices(oldPlus);
    const Run run = finish(startCli({ "update", "--bundle", source.filePath(QStringLiteral("bundle.tar.gz")),
                               "--yes", "--verbose" }),
        120000);
    QSettings().remove(QStringLiteral("update/trusted-keys"));
    QVERIFY2(
        run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2((run.err + QString::fromLocal8Bit(run.out)).contains(expected), qPrintable(run.err));
    // Nothing went to the network: the log tells of every download and every check begun.
    QVERIFY2(cutShort
            || run.err.contains(QStringLiteral("UpdateManager: Reading the catalogue of the update bundle")),
        qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("DownloadAgent: Downloading")), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("UpdateManager: Starting download")), qPrintable(run.err));
    QCOMPARE(history(),
        exitCode ? QStringList()
                 : QStringList({ "Ensemble Audio verified", "Styles verified", "DSP Firmware verified",
                     "MCU Firmware verified" }));
}

void tst_CliProcess::oneUpdaterPerDevice_data()
{
    QTest::addColumn<QStringList>("environment"); // of the second updater
    QTest::addColumn<bool>("firstUpdates");       // a pelk-cli updates the device; else the lock is held
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("told");

    const QString otherRuntime = dir.filePath(QStringLiteral("other-runtime"));
    QDir().mkpath(otherRuntime);
    QFile::setPermissions(
        otherRuntime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString running = QStringLiteral("Another instance of the updater is already running.");
    // An ssh session, sudo or cron: the same account, another environment.
    QTest::newRow("another runtime directory")
        << QStringList { "XDG_RUNTIME_DIR=" + otherRuntime } << false << QStringList { "check" } << running;
    QTest::newRow("no runtime directory") << QStringList { "XDG_RUNTIME_DIR" } << false
                                          << QStringList { "update", "--allow-unsigned", "--yes" } << running;
    // Another account (a lock of its own) finds the device taken by the updater at work.
    const QString busy
        = QStringLiteral("Pelk+ PK000001 (sim/pelk-1) is being used by another updater (pid %1 "
                         "(pelk-cli)). Wait until it has finished, or close it.");
    const QStringList otherAccount { "PELK_INSTANCE_LOCK_DIR=" + otherRuntime,
        "XDG_RUNTIME_DIR=" + otherRuntime };
    QTest::newRow("another account checks") << otherAccount << true << QStringList { "check" } << busy;
    QTest::newRow("another account lists") << otherAccount << true << QStringList { "devices" } << busy;
}

// One updater per device, whatever the environment or the account; the second one ends with 3.
void tst_CliProcess::oneUpdaterPerDevice()
{
    QFETCH(QStringList, environment);
    QFETCH(bool, firstUpdates);
    QFETCH(QStringList, arguments);
    QFETCH(QString, told);

    // A firmware image of about three seconds on a paced bus.
    publish(200000);
    startDevices(oldPlus + QStringList { "--paced" });
    QLockFile lock(ApplicationPaths::singleInstanceLockPath());
    QProcess* first = nullptr;
    if (firstUpdates) {
        first = startedUpdate();
        QVERIFY(first);
        told = told.arg(first->processId());
    } else {
        QVERIFY(lock.tryLock(0));
    }

    const Run run = finish(startCli(arguments, environment), 30000);
    if (first) {
        ::kill(pid_t(first->processId()), SIGTERM);
        ::kill(pid_t(first->processId()), SIGTERM);
        finish(first, 10000);
    }
    QVERIFY2(run.exitCode == 3, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
}

void tst_CliProcess::diagnosticsReport_data()
{
    QTest::addColumn<bool>("lockHeld"); // the window runs
    QTest::addColumn<QString>("url");   // the report's manifest URL; empty for the run's own
    const QString stored = QStringLiteral("http://127.0.0.1:9/stored/update-manifest.xml");
    QTest::newRow("while the window runs") << true << stored;
    QTest::newRow("alone") << false << QString();
}

// The report, written to a file that existed open to others: closed to them, and naming the
// catalogue the updater uses.
void tst_CliProcess::diagnosticsReport()
{
    QFETCH(bool, lockHeld);
    QFETCH(QString, url);
    QSettings settings(QStringLiteral("Quellor"), QStringLiteral("Pelk Updater"));
    settings.setValue(QStringLiteral("version"), 1);
    settings.setValue(QStringLiteral("update/manifest-url"),
        QUrl(QStringLiteral("http://127.0.0.1:9/stored/update-manifest.xml")));
    settings.sync();
    QLockFile lock(ApplicationPaths::singleInstanceLockPath());
    if (lockHeld)
        QVERIFY(lock.tryLock(0));
    const QString path = dir.filePath(QStringLiteral("report-%1.txt").arg(lockHeld));
    QFile existing(path);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    QVERIFY(
        existing.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));

    const Run run = finish(startCli({ "diagnostics", path }));
    settings.remove(QStringLiteral("update/manifest-url"));
    settings.sync();
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // User, group and others: only the user may read and write.
    QCOMPARE(QFile::permissions(path) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);
    QFile report(path);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QString wanted = QStringLiteral("Manifest URL: ")
        + (url.isEmpty() ? server.url(UpdateCatalogue::manifestPath()).toString() : url) + QLatin1Char('\n');
    const QString text = QString::fromUtf8(report.readAll());
    QVERIFY2(text.contains(wanted), qPrintable(text));
}

void tst_CliProcess::interruptDuringTransfer()
{
    // A firmware image of about three seconds on a paced bus.
    publish(200000);
    startDevices(oldPlus + QStringList { "--paced" });
    QProcess* cli = startedUpdate();
    QVERIFY(cli);

    // The first one only warns: the transfer goes on.
    ::kill(pid_t(cli->processId()), SIGINT);
    QByteArray err;
    QVERIFY(QTest::qWaitFor(
        [&] {
            err += cli->readAllStandardError();
            return err.contains("unusable until it is updated again");
        },
        5000));
    QTest::qWait(300);
    QCOMPARE(cli->state(), QProcess::Running);

    // The second one within five seconds stops it after the current packet.
    ::kill(pid_t(cli->processId()), SIGTERM);
    const Run run = finish(cli, 10000);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("Stopping after the current packet.")), qPrintable(run.err));
    QTest::qWait(500);
    QVERIFY2(!devsimLog().contains(QStringLiteral("installed MCU")), qPrintable(devsimLog()));
    QCOMPARE(history().value(0), QStringLiteral("MCU Firmware interrupted by quitting"));
}

void tst_CliProcess::stoppedUpdateFinishedLater_data()
{
    QTest::addColumn<int>("signalNumber");
    // The history's word for the MCU Firmware that was being sent.
    QTest::addColumn<QString>("told");

    QTest::newRow("killed") << int(SIGKILL) << "MCU Firmware interrupted";
    QTest::newRow("terminated") << int(SIGTERM) << "MCU Firmware interrupted by quitting";
}

// Stopped about three seconds into its first component, then finished by the next update with
// the catalogue's server gone.
void tst_CliProcess::stoppedUpdateFinishedLater()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, told);

    publish(200000);
    QFile::remove(historyPath());
    startDevices(oldPlus + QStringList { "--paced" });
    QProcess* cli = startedUpdate();
    QVERIFY(cli);
    QTest::qWait(DeviceProtocol::scaled(3000));
    ::kill(pid_t(cli->processId()), signalNumber);
    // A stop is obeyed after the current packet, however the device answers.
    const Run stopped = finish(cli, 5000);
    QCOMPARE(stopped.exitCode, signalNumber == SIGKILL ? -1 : 1);
    QVERIFY(QFile::exists(journalPath()));
    // Off the bus and back, as a device left half-way through a file is: what the stopped updater
    // had written to the simulator's socket goes with the link.
    devsim.write("unplug\nplug\nlist\n");
    QTRY_VERIFY_WITH_TIMEOUT(devsimLog().contains(QStringLiteral("PK000001 plugged")), 5000);

    server.close();
    const Run run = finish(startCli({ "update", "--yes" }), 120000);
    QVERIFY(server.listen());
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(QString::fromUtf8(run.out).contains(
                 QLatin1String("Finishing the update that stopped during MCU Firmware on ")),
        run.out.constData());
    // Each component installed once: the first only when finishing.
    QVERIFY2(devsimLog().count(QStringLiteral("installed ")) == 4, qPrintable(devsimLog()));
    QCOMPARE(history(),
        QStringList({ "Ensemble Audio finished later", "Styles finished later", "DSP Firmware finished later",
            "MCU Firmware finished later", told }));
}

void tst_CliProcess::interruptWhileAsking()
{
    publish();
    startDevices(oldPlus);
    QProcess* cli = startCli({ "update", "--allow-unsigned" });
    QByteArray out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            out += cli->readAllStandardOutput();
            return out.endsWith("Install 4 component(s) now? [y/N] ");
        },
        20000));
    // Nothing is being sent: one interruption is enough.
    ::kill(pid_t(cli->processId()), SIGINT);
    const Run run = finish(cli, 3000);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("Stopped.")), qPrintable(run.err));
    QVERIFY(!devsimLog().contains(QStringLiteral("installed")));
}

// A service or a cron job often runs under the C locale, in which hidapi reads a serial number
// outside ASCII as empty: the program makes its character type UTF-8 capable, and says so.
void tst_CliProcess::characterTypeUnderCLocale()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANG"));
    auto* cli = new QProcess(this);
    cli->setProcessEnvironment(environment);
    cli->start(qEnvironmentVariable("PELK_CLI"), { "diagnostics" });
    const Run run = finish(cli);
    QCOMPARE(run.exitCode, 0);
    const QString report = QString::fromUtf8(run.out);
    QVERIFY2(report.contains(QStringLiteral(" (UTF-8)\nHID backend: ")), qPrintable(report));
}

void tst_CliProcess::recordAndReplayInstall_data()
{
    QTest::addColumn<int>("changedByte"); // of the image sent in the replay, -1 none
    QTest::newRow("the same install") << -1;
    QTest::newRow("another image byte") << 56 * 30 + 5;
}

// An install recorded with PELK_HID_RECORD (open, header, ready query, stream, the reboot and the
// header after it), then replayed by pelk-devsim against pelk-cli with no simulated device.
void tst_CliProcess::recordAndReplayInstall()
{
    QFETCH(int, changedByte);
    const QString tag = QString::number(changedByte + 1);
    const QString recording = dir.filePath(QStringLiteral("install-%1.jsonl").arg(tag));
    QByteArray image = UpdateCatalogue::image(6000, QStringLiteral("3.3.1"), 7);
    const QString firmware = dir.filePath(QStringLiteral("pelk-%1-Update.bin").arg(tag));
    auto writeImage = [&] {
        QFile file(firmware);
        return file.open(QIODevice::WriteOnly) && file.write(image) == image.size();
    };
    QVERIFY(writeImage());
    const QStringList install { "install", firmware, "--type", "mcu", "--yes", "--quiet" };

    startDevices(oldPlus);
    qputenv("PELK_HID_RECORD", QFile::encodeName(recording));
    const Run recorded = finish(startCli(install), 60000);
    // The report tells where a recording goes; the program starts a file of its own.
    const QString reportRecording = recording + QStringLiteral(".diagnostics");
    qputenv("PELK_HID_RECORD", QFile::encodeName(reportRecording));
    const QString report = QString::fromUtf8(finish(startCli({ "diagnostics" })).out);
    qunsetenv("PELK_HID_RECORD");
    QVERIFY2(recorded.exitCode == 0, qPrintable(recorded.err));
    QVERIFY2(
        report.contains(QStringLiteral("HID recording: on, every HID call is written to ") + reportRecording),
        qPrintable(report));
    cleanup();

    // Where the stream's data packets begin among the recording's written reports.
    QFile file(recording);
    QVERIFY(file.open(QIODevice::ReadOnly));
    int writes = 0;
    int firstData = 0;
    while (!file.atEnd()) {
        const QJsonObject call = QJsonDocument::fromJson(file.readLine()).object();
        if (call.value(QStringLiteral("call")).toString() != QLatin1String("write"))
            continue;
        ++writes;
        const QByteArray data = QByteArray::fromHex(call.value(QStringLiteral("data")).toString().toLatin1());
        if (!firstData && data.size() == 65 && data.at(3) == 0x04 && data.at(4) == 0)
            firstData = writes;
    }
    QVERIFY(firstData > 0);

    if (changedByte >= 0) {
        image[changedByte] = char(image.at(changedByte) ^ 0x33);
        QVERIFY(writeImage());
    }
    startDevices({ "--replay", recording });
    const Run replayed = finish(startCli(install), 60000);
    if (changedByte < 0) {
        QVERIFY2(replayed.exitCode == 0, qPrintable(replayed.err + devsimLog()));
        QTRY_VERIFY_WITH_TIMEOUT(
            devsimLog().contains(
                QStringLiteral("replay: the recording played to its end, %1 of %1 reports").arg(writes)),
            5000);
        return;
    }
    const QString expected = QStringLiteral("replay: report %1 differs from the recording at byte ")
                                 .arg(firstData + changedByte / 56);
    QVERIFY2(devsimLog().contains(expected), qPrintable(devsimLog()));
    // It may have gone already: the difference ends it at once.
    QTRY_VERIFY_WITH_TIMEOUT(devsim.state() == QProcess::NotRunning, 5000);
    QCOMPARE(devsim.exitCode(), 3);
    QVERIFY(replayed.exitCode != 0);
}

PELK_TEST_MAIN(tst_CliProcess, PelkPlus::ConsoleTest)

#include "tst_CliProcess.moc"
