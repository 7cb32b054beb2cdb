#include "cli/CliOptions.h"

#include "app/PelkVersion.h"

#include <QCommandLineParser>

namespace PelkPlus {

namespace {

const char description[] = "Updates the firmware and data of a Pelk or Pelk+ connected by USB.\n\n"
                           "Commands:\n"
                           "  devices                 the connected devices and their versions\n"
                           "  check                   what an update would install\n"
                           "  update                  installs every newer component\n"
                           "  update --bundle FILE    the same from an update bundle, with no network\n"
                           "  install FILE --type T   installs one component from a file\n"
                           "  history                 every install attempt recorded, newest first\n"
                           "  diagnostics [FILE]      a report for a support request\n\n"
                           "Exit codes: 0 done or up to date, 1 failure, 2 usage error or no device,\n"
                           "3 another updater is running or has the device open, 4 not begun: the\n"
                           "computer is on a low battery (see --ignore-power), 5 no update can be\n"
                           "installed over USB but one exists that must be programmed into the MCU\n"
                           "directly (by a service centre), 6 not begun: the update catalogue is not\n"
                           "signed by a trusted key (see --allow-unsigned).";

bool typeFromName(const QString& name, ComponentType* type)
{
    static const struct
    {
        const char* name;
        ComponentType type;
    } types[] = {
        { "mcu", ComponentType::McuFirmware },
        { "dsp", ComponentType::DspFirmware },
        { "styles", ComponentType::Styles },
        { "ensemble", ComponentType::EnsembleAudio },
    };
    for (const auto& known : types) {
        if (name == QLatin1String(known.name)) {
            *type = known.type;
            return true;
        }
    }
    return false;
}

} // namespace

CliOptions::Outcome CliOptions::parse(const QStringList& arguments, CliOptions* options, QString* text)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addPositionalArgument(QStringLiteral("command"),
        QStringLiteral("devices, check, update, install, history or diagnostics"), QStringLiteral("COMMAND"));
    const QCommandLineOption yesOption(
        { QStringLiteral("y"), QStringLiteral("yes") }, QStringLiteral("Updates without asking first."));
    const QCommandLineOption ignorePowerOption(QStringLiteral("ignore-power"),
        QStringLiteral("With --yes, updates even on a low battery that nothing charges."));
    const QCommandLineOption allowUnsignedOption(QStringLiteral("allow-unsigned"),
        QStringLiteral("With update, installs from a catalogue that no trusted key signed, whose files "
                       "could have been changed on the way."));
    const QCommandLineOption typeOption(QStringLiteral("type"),
        QStringLiteral("What the file of install holds: mcu, dsp, styles or ensemble."),
        QStringLiteral("TYPE"));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
        QStringLiteral("The serial number of the device to use when several are connected."),
        QStringLiteral("SERIAL"));
    const QCommandLineOption bundleOption(QStringLiteral("bundle"),
        QStringLiteral("With check or update, takes the catalogue and the files from an update bundle "
                       "(pelk-catalogue bundle) and uses no network."),
        QStringLiteral("FILE"));
    const QCommandLineOption urlOption(QStringLiteral("manifest-url"),
        QStringLiteral("Fetches the update manifest from URL for this run only."), QStringLiteral("URL"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("Writes the result as one JSON object on standard output."));
    const QCommandLineOption quietOption({ QStringLiteral("q"), QStringLiteral("quiet") },
        QStringLiteral("Prints nothing but errors and the result."));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Writes the diagnostic log to standard error."));
    // Not the parser's own help option, whose --help-all offers the toolkit's options, which
    // pelk-cli neither needs nor documents.
    const QCommandLineOption helpOption(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Displays this help."));
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addOptions({ helpOption, yesOption, ignorePowerOption, allowUnsignedOption, typeOption,
        deviceOption, bundleOption, urlOption, jsonOption, quietOption, verboseOption });

    auto usageError = [text](const QString& message) {
        *text = message + QStringLiteral("\nTry 'pelk-cli --help' for more information.");
        return UsageError;
    };

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        *text = parser.helpText();
        return ShowHelp;
    }
    if (parser.isSet(versionOption)) {
        *text = QStringLiteral("pelk-cli %1").arg(QLatin1String(applicationVersionText));
        return ShowVersion;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(QStringLiteral("No command given."));
    const QString command = positional.takeFirst();
    if (command == QLatin1String("devices"))
        options->command = Devices;
    else if (command == QLatin1String("check"))
        options->command = Check;
    else if (command == QLatin1String("update"))
        options->command = Update;
    else if (command == QLatin1String("install"))
        options->command = Install;
    else if (command == QLatin1String("history"))
        options->command = History;
    else if (command == QLatin1String("diagnostics"))
        options->command = Diagnostics;
    else
        return usageError(QStringLiteral("Unknown command: %1").arg(command));

    if (options->command == Install) {
        if (positional.size() != 1)
            return usageError(QStringLiteral("install takes one FILE."));
        options->file = positional.takeFirst();
        if (!parser.isSet(typeOption))
            return usageError(QStringLiteral("install needs --type mcu|dsp|styles|ensemble."));
        if (!typeFromName(parser.value(typeOption), &options->type))
            return usageError(QStringLiteral("Unknown type: %1 (mcu, dsp, styles or ensemble)")
                                  .arg(parser.value(typeOption)));
    } else if (options->command == Diagnostics && !positional.isEmpty()) {
        options->file = positional.takeFirst();
    }
    if (options->command != Install && parser.isSet(typeOption)) {
        return usageError(QStringLiteral("--type belongs to install."));
    }
    if (options->command != Update && parser.isSet(allowUnsignedOption))
        return usageError(QStringLiteral("--allow-unsigned belongs to update."));
    if (!positional.isEmpty())
        return usageError(QStringLiteral("Unexpected argument: %1").arg(positional.first()));
    if (parser.isSet(bundleOption)) {
        if (options->command != Update && options->command != Check)
            return usageError(QStringLiteral("--bundle belongs to check and update."));
        if (parser.isSet(urlOption))
            return usageError(QStringLiteral("--bundle and --manifest-url cannot be used together."));
        options->bundle = parser.value(bundleOption);
    }

    if (parser.isSet(urlOption)) {
        const QUrl url = QUrl::fromUserInput(parser.value(urlOption));
        if (!url.isValid() || url.scheme().isEmpty())
            return usageError(QStringLiteral("Not a valid URL: %1").arg(parser.value(urlOption)));
        options->manifestUrl = url;
    }
    options->serial = parser.value(deviceOption);
    options->json = parser.isSet(jsonOption);
    options->quiet = parser.isSet(quietOption);
    options->yes = parser.isSet(yesOption);
    options->ignorePower = parser.isSet(ignorePowerOption);
    options->allowUnsigned = parser.isSet(allowUnsignedOption);
    options->verbose = parser.isSet(verboseOption);
    return Run;
}

} // namespace PelkPlus
