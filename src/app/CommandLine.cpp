#include "app/CommandLine.h"

#include "app/PelkVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace PelkPlus {

namespace {

// The toolkit's own options, read by the application object after this decision: accepted here so
// that they are not taken for unknown options, and kept out of the help.
const char* const toolkitValueOptions[] = { "platform", "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "geometry", "qwindowtitle", "title", "qwindowicon", "icon", "session", "display",
    "name", "style", "stylesheet", "qmljsdebugger" };
const char* const toolkitFlagOptions[]
    = { "reverse", "widgetcount", "nograb", "dograb", "sync", "testability" };

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Updates the firmware and sound data of a Quellor Pelk or Pelk+ connected by USB."));
        // "-platform offscreen" is one option with a value, as the toolkit reads it.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addPositionalArgument(QStringLiteral("bundle"),
            QStringLiteral("An update bundle to install from, with no network access."),
            QStringLiteral("[BUNDLE]"));
        for (const char* name : toolkitValueOptions) {
            QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
        for (const char* name : toolkitFlagOptions) {
            QCommandLineOption option(QString::fromLatin1(name));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }
};

bool platformReachesDisplay(
    const QString& name, const QString& displayArgument, const QProcessEnvironment& environment)
{
    if (name == QLatin1String("xcb"))
        return !displayArgument.isEmpty() || !environment.value(QStringLiteral("DISPLAY")).isEmpty();
    if (name.startsWith(QLatin1String("wayland"))) {
        if (!environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
            return true;
        // Without the variable the client library tries the compositor's default socket.
        const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
        return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/wayland-0"));
    }
    // offscreen, minimal, eglfs, linuxfb, vnc and the like bring their own output.
    return true;
}

} // namespace

QString CommandLine::noDisplayText()
{
    return QStringLiteral("no display: set DISPLAY or WAYLAND_DISPLAY, or use pelk-cli");
}

bool CommandLine::displayAvailable(
    const QString& platform, const QString& displayArgument, const QProcessEnvironment& environment)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString requested
        = platform.isEmpty() ? environment.value(QStringLiteral("QT_QPA_PLATFORM")) : platform;
    const QStringList candidates = requested.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (candidates.isEmpty()) {
        // The toolkit's default follows the session: an X display or a Wayland compositor will do.
        return platformReachesDisplay(QStringLiteral("xcb"), displayArgument, environment)
            || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    }
    for (const QString& candidate : candidates) {
        // "offscreen:fontengine=freetype": the plug-in's name comes before its options.
        const QString name = candidate.section(QLatin1Char(':'), 0, 0).trimmed();
        if (platformReachesDisplay(name, displayArgument, environment))
            return true;
    }
    return false;
#else
    Q_UNUSED(platform)
    Q_UNUSED(displayArgument)
    Q_UNUSED(environment)
    return true;
#endif
}

CommandLine::Request CommandLine::inspect(
    const QStringList& arguments, const QProcessEnvironment& environment, QString* error)
{
    Parser p;
    if (!p.parser.parse(arguments)) {
        if (error)
            *error = p.parser.errorText();
        return Request::UsageError;
    }
    if (p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all")))
        return Request::Help;
    if (p.parser.isSet(p.version))
        return Request::Version;
    if (p.parser.positionalArguments().size() > 1) {
        if (error)
            *error = QStringLiteral("Only one update bundle can be installed at a time.");
        return Request::UsageError;
    }
    if (!displayAvailable(p.parser.value(QStringLiteral("platform")),
            p.parser.value(QStringLiteral("display")), environment))
        return Request::NoDisplay;
    return Request::Run;
}

QString CommandLine::bundleFile(const QStringList& arguments)
{
    Parser p;
    return p.parser.parse(arguments) ? p.parser.positionalArguments().value(0) : QString();
}

bool CommandLine::answersAlone(int& argc, char** argv, int* exitCode)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    const Request request = inspect(arguments, QProcessEnvironment::systemEnvironment(), &error);
    switch (request) {
    case Request::Run:
        return false;
    case Request::Version:
        std::printf("Pelk Updater %s\n", applicationVersionText);
        std::fflush(stdout);
        *exitCode = 0;
        return true;
    case Request::NoDisplay:
        std::fprintf(stderr, "%s\n", qPrintable(noDisplayText()));
        *exitCode = noDisplayExitCode;
        return true;
    case Request::Help:
    case Request::UsageError:
        break;
    }
    // The help text names the program from the application object's arguments; a console one
    // needs no display.
    const QCoreApplication application(argc, argv);
    Parser p;
    if (request == Request::Help && p.parser.parse(arguments) && p.parser.isSet(QStringLiteral("help-all")))
        p.parser.process(arguments); // prints the toolkit's options too, then exits with 0
    const QByteArray help = p.parser.helpText().toLocal8Bit();
    if (request == Request::Help) {
        std::fputs(help.constData(), stdout);
        std::fflush(stdout);
        *exitCode = 0;
    } else {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(error), help.constData());
        *exitCode = usageExitCode;
    }
    return true;
}

} // namespace PelkPlus
