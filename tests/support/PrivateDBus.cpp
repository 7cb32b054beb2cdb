#include "support/PrivateDBus.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <cctype>
#include <cstring>

namespace PelkPlus {

namespace {

// A session-type bus that lets every client own any name and talk to any other.
const char configTemplate[]
    = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig>\n"
      "  <type>session</type>\n"
      "  <listen>unix:dir=%1</listen>\n"
      "  <auth>EXTERNAL</auth>\n"
      "  <policy context=\"default\">\n"
      "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
      "    <allow eavesdrop=\"true\"/>\n"
      "    <allow own=\"*\"/>\n"
      "  </policy>\n"
      "</busconfig>\n";

constexpr int startTimeout = 10000;

// A value in a D-Bus address: every byte but the few it allows plainly written as %XX (a temporary
// directory named after the application has a space in it).
QString addressValue(const QString& text)
{
    QString value;
    for (const char byte : text.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if (std::isalnum(c) || (c != 0 && std::strchr("-_/.\\", c)))
            value += QLatin1Char(char(c));
        else
            value += QLatin1Char('%') + QString::number(c, 16).rightJustified(2, QLatin1Char('0'));
    }
    return value;
}

void stopProcess(std::unique_ptr<QProcess>& process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

} // namespace

PrivateDBus::PrivateDBus() = default;

PrivateDBus::~PrivateDBus()
{
    stopMock();
    stopProcess(daemon);
}

bool PrivateDBus::daemonAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
}

QString PrivateDBus::python()
{
    // Debian's own interpreter carries the distribution's dbus and dbusmock modules; another
    // python3 earlier on PATH may not.
    const QString system = QStringLiteral("/usr/bin/python3");
    if (QFileInfo(system).isExecutable())
        return system;
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

bool PrivateDBus::dbusmockAvailable()
{
    const QString interpreter = python();
    if (interpreter.isEmpty())
        return false;
    QProcess probe;
    probe.start(interpreter, { QStringLiteral("-c"), QStringLiteral("import dbus, dbusmock") });
    if (!probe.waitForFinished(startTimeout))
        return false;
    return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

bool PrivateDBus::start(QString* error)
{
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!directory.isValid())
        return fail(QStringLiteral("no temporary directory for the bus"));

    const QString configPath = directory.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write ") + configPath);
    config.write(
        QString::fromLatin1(configTemplate).arg(addressValue(directory.path()).toHtmlEscaped()).toUtf8());
    config.close();

    daemon = std::make_unique<QProcess>();
    daemon->setProcessChannelMode(QProcess::SeparateChannels);
    daemon->start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
        { QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
            QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1") });
    if (!daemon->waitForStarted(startTimeout))
        return fail(QStringLiteral("dbus-daemon did not start: ") + daemon->errorString());
    while (!daemon->canReadLine()) {
        if (!daemon->waitForReadyRead(startTimeout))
            return fail(QStringLiteral("dbus-daemon printed no address: ")
                + QString::fromLocal8Bit(daemon->readAllStandardError()));
    }
    busAddress = QString::fromLocal8Bit(daemon->readLine()).trimmed();
    if (busAddress.isEmpty())
        return fail(QStringLiteral("dbus-daemon printed an empty address"));
    return true;
}

bool PrivateDBus::startMock(const QString& templateName, QString* error)
{
    return startMock(QStringList { QStringLiteral("--template"), templateName }, error);
}

bool PrivateDBus::startMock(const QStringList& arguments, QString* error)
{
    stopMock();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    mock = std::make_unique<QProcess>();
    mock->setProcessEnvironment(environment);
    mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock->setStandardOutputFile(QProcess::nullDevice());
    mock->start(python(), QStringList { QStringLiteral("-m"), QStringLiteral("dbusmock") } + arguments);
    if (!mock->waitForStarted(startTimeout)) {
        if (error)
            *error = QStringLiteral("dbusmock did not start: ") + mock->errorString();
        return false;
    }
    return true;
}

void PrivateDBus::stopMock()
{
    stopProcess(mock);
}

} // namespace PelkPlus
