#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace PelkPlus {

// What the updater's command line asks for, decided before the GUI application object exists:
// --help and --version answer without a display and without the single-instance lock, an unknown
// option is a usage error, and a missing display is reported in one line rather than left to the
// toolkit, which would abort.
class CommandLine
{
public:
    enum class Request { Run, Help, Version, UsageError, NoDisplay };

    static constexpr int usageExitCode = 2;
    static constexpr int noDisplayExitCode = 1;

    // Reads the arguments (the program name first) and the environment; never touches the
    // application object. The reason for a usage error goes to error.
    static Request inspect(
        const QStringList& arguments, const QProcessEnvironment& environment, QString* error = nullptr);

    // True when the platform the toolkit would load can reach a display. Platforms that need none
    // (offscreen, minimal, framebuffers) count as available.
    static bool displayAvailable(
        const QString& platform, const QString& displayArgument, const QProcessEnvironment& environment);

    // For main(): true when the process is to end at once, with the text printed and the exit code
    // in exitCode. Creates a console application object only for the help text, never a GUI one.
    static bool answersAlone(int& argc, char** argv, int* exitCode);

    static QString noDisplayText();

    // The update bundle to install, given as the one argument; empty when none is.
    static QString bundleFile(const QStringList& arguments);
};

} // namespace PelkPlus
