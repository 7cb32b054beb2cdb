#pragma once

#include "update/ComponentType.h"

#include <QString>
#include <QStringList>
#include <QUrl>

namespace PelkPlus {

// What the command line asks for: one command and the options common to all of them.
struct CliOptions
{
    enum Command {
        Devices,
        Check,
        Update,
        Install,
        History,
        Diagnostics,
    };

    // What parse() found: a command to run, a text to print, or a usage error.
    enum Outcome {
        Run,
        ShowHelp,
        ShowVersion,
        UsageError,
    };

    Command command = Devices;
    // install: the component's file; diagnostics: where to write the report, empty for stdout.
    QString file;
    ComponentType type = ComponentType::McuFirmware;
    QString serial;
    // check, update: the update bundle whose catalogue and files are used instead of the network.
    QString bundle;
    // Used for this run only; the stored URL is left as it is.
    QUrl manifestUrl;
    bool json = false;
    bool quiet = false;
    bool yes = false;
    // Together with yes: an update begins even when the computer's battery may not last it.
    bool ignorePower = false;
    // update: installs from a catalogue no trusted key signed.
    bool allowUnsigned = false;
    bool verbose = false;

    // arguments include the program name. text is the help, the version line or the error.
    static Outcome parse(const QStringList& arguments, CliOptions* options, QString* text);
};

} // namespace PelkPlus
