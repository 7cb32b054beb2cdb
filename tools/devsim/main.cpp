// pelk-devsim: serves simulated devices of the family on the virtual HID bus and takes commands
// on standard input while it runs. Every event and every protocol violation is one line on
// standard output.
#include "DeviceBus.h"
#include "DeviceOptions.h"
#include "ReplaySession.h"

#include "device/FirmwareVersion.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

using namespace PelkPlus;

namespace {

// Exit code of a replay in which the host sent something else than the recording holds.
constexpr int replayMismatchExit = 3;

void printLine(const QString& line)
{
    std::printf("devsim: %s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString describe(DeviceBus& bus, int index)
{
    const SimulatedDevice::Settings& s = bus.device(index).settings();
    return QStringLiteral("%1 %2 %3 serial %4 %5: MCU %6, DSP %7, Styles 0x%8, Ensemble Audio 0x%9")
        .arg(index)
        .arg(QLatin1String(modelName(s.model)), s.path, s.serialNumber,
            bus.isPlugged(index) ? QStringLiteral("plugged") : QStringLiteral("unplugged"),
            FirmwareVersion::fromWord(s.mcuWord).toString(), FirmwareVersion::fromWord(s.dspWord).toString(),
            QString::number(s.stylesVersion, 16), QString::number(s.ensembleVersion, 16));
}

// Runs one command line; false when it asks to quit.
bool runCommand(DeviceBus& bus, const QString& line)
{
    QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString command = words.takeFirst();
    int index = 0;
    if (!words.isEmpty()) {
        bool ok = false;
        const int given = words.first().toInt(&ok);
        if (ok) {
            index = given;
            words.removeFirst();
        }
    }
    if (command == QLatin1String("quit"))
        return false;
    if (index < 0 || index >= bus.deviceCount()) {
        printLine(QStringLiteral("no device %1").arg(index));
        return true;
    }
    if (command == QLatin1String("list")) {
        for (int i = 0; i < bus.deviceCount(); ++i)
            printLine(describe(bus, i));
    } else if (command == QLatin1String("plug")) {
        bus.device(index).restarted();
        bus.plug(index);
    } else if (command == QLatin1String("unplug")) {
        bus.unplug(index);
    } else if (command == QLatin1String("power-cycle")) {
        bus.powerCycle(index);
    } else if (command == QLatin1String("set") && words.size() == 2) {
        QString error;
        if (DeviceOptions::apply(bus.device(index).settings(), words.at(0), words.at(1), &error))
            printLine(describe(bus, index));
        else
            printLine(error);
    } else if (command == QLatin1String("flag") && words.size() == 1) {
        if (!DeviceOptions::applyFlag(bus.device(index).settings(), words.at(0)))
            printLine(QStringLiteral("unknown flag %1").arg(words.at(0)));
    } else {
        printLine(QStringLiteral("unknown command: %1").arg(line.trimmed()));
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QString socketPath = qEnvironmentVariable("PELK_HIDSIM_SOCKET");
    QVector<SimulatedDevice::Settings> devices(1);
    QString replayPath;
    const QStringList arguments = application.arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::printf("%s", DeviceOptions::usage().toLocal8Bit().constData());
            return 0;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "unexpected argument %s\n%s", qPrintable(argument),
                qPrintable(DeviceOptions::usage()));
            return 2;
        }
        const QString name = argument.mid(2);
        if (name == QLatin1String("add-device")) {
            SimulatedDevice::Settings next;
            next.path = QStringLiteral("sim/pelk-%1").arg(devices.size() + 1);
            next.serialNumber = QStringLiteral("PK%1").arg(devices.size() + 1, 6, 10, QLatin1Char('0'));
            devices.append(next);
            continue;
        }
        if (DeviceOptions::applyFlag(devices.last(), name))
            continue;
        if (i + 1 >= arguments.size()) {
            std::fprintf(stderr, "%s needs a value\n", qPrintable(argument));
            return 2;
        }
        const QString& value = arguments.at(++i);
        if (name == QLatin1String("socket")) {
            socketPath = value;
            continue;
        }
        if (name == QLatin1String("replay")) {
            replayPath = value;
            continue;
        }
        QString error;
        if (!DeviceOptions::apply(devices.last(), name, value, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
    }
    if (socketPath.isEmpty()) {
        std::fprintf(stderr, "no socket: give --socket PATH or set PELK_HIDSIM_SOCKET\n");
        return 2;
    }

    DeviceBus bus;
    QObject::connect(&bus, &DeviceBus::event, &bus, &printLine);
    ReplaySession replay;
    bool mismatch = false;
    if (!replayPath.isEmpty()) {
        QString error;
        if (!replay.load(replayPath, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
        printLine(QStringLiteral("replaying %1: %2 reports from the host")
                      .arg(replayPath)
                      .arg(replay.writeCount()));
        bus.setReplay(&replay);
        // The first difference is the finding; what the host does after it would only bury it.
        QObject::connect(&bus, &DeviceBus::replayMismatch, &bus, [&mismatch] {
            mismatch = true;
            QCoreApplication::exit(replayMismatchExit);
        });
    } else {
        for (const SimulatedDevice::Settings& settings : devices)
            bus.addDevice(settings);
    }
    if (!bus.listen(socketPath))
        return 1;

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &bus, [&bus, &input] {
        char buffer[1024];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof(buffer) - 1);
        if (got <= 0) {
            input.setEnabled(false); // standard input closed: keep serving until killed
            return;
        }
        static QByteArray pending;
        pending.append(buffer, int(got));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end));
            pending.remove(0, end + 1);
            if (!runCommand(bus, line)) {
                QCoreApplication::quit();
                return;
            }
        }
    });
    const int code = application.exec();
    return mismatch ? replayMismatchExit : code;
}
