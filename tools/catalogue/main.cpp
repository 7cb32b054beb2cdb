// pelk-catalogue: writes the update manifest that Pelk Updater reads, from the component files a
// publisher names, and checks it with the updater's own parser before it replaces the old one.

#include "CatalogueChecker.h"
#include "CatalogueKeys.h"
#include "CatalogueWriter.h"

#include "update/CatalogueSignature.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

using namespace PelkPlus;

namespace {

enum ExitCode {
    Success = 0,
    Refused = 1,
    Usage = 2,
};

int fail(const QString& message, int code = Refused)
{
    QTextStream(stderr) << "pelk-catalogue: " << message << '\n';
    return code;
}

void printComponents(const ManifestData& data)
{
    QTextStream out(stdout);
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        for (const Component& component : it.value()) {
            out << CatalogueWriter::productName(it.key()) << '\t'
                << CatalogueWriter::componentName(component.type) << '\t' << component.version << '\t'
                << component.releaseDate << '\t' << component.url.toString(QUrl::FullyEncoded) << '\n';
        }
    }
}

// Reads the manifest as the updater would, then checks every file it lists below root and, given
// a public key file, its signature.
int check(const QString& path, const QString& root, const QString& publicKeyPath)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    QTextStream err(stderr);
    QString error;
    // First, as the updater does: nothing of a manifest that fails its signature is read.
    if (!publicKeyPath.isEmpty()) {
        QByteArray key;
        if (!CatalogueKeys::readPublicKey(publicKeyPath, &key, &error)
            || !CatalogueKeys::verifyManifest(path, key, &error))
            return fail(error);
        err << "Signature verified (key " << CatalogueSignature::keyId(key) << ").\n";
        err.flush();
    }
    ManifestData data;
    if (!CatalogueWriter::readBack(file.readAll(), &data, &error))
        return fail(QStringLiteral("%1: the updater would refuse this manifest: %2").arg(path, error));
    printComponents(data);

    QStringList problems;
    if (!CatalogueChecker::checkFiles(data, root, &problems)) {
        for (const QString& problem : qAsConst(problems))
            err << "pelk-catalogue: " << problem << '\n';
        err.flush();
        return fail(QStringLiteral("%1: %2 listed file(s) do not match").arg(path).arg(problems.size()));
    }
    return Success;
}

int keygen(const QStringList& arguments)
{
    if (arguments.size() != 2)
        return fail(QStringLiteral("usage: pelk-catalogue keygen SECRET_KEY_FILE"), Usage);
    QByteArray publicKey;
    QString error;
    if (!CatalogueKeys::generate(arguments.at(1), &publicKey, &error))
        return fail(error);
    QTextStream(stdout) << "Wrote " << arguments.at(1) << " (secret, mode 0600) and " << arguments.at(1)
                        << ".pub.\nPublic key (key " << CatalogueSignature::keyId(publicKey)
                        << "): " << CatalogueSignature::encodeKey(publicKey) << '\n';
    return Success;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelk-catalogue"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the update manifest of the Pelk family from component files and checks it with the "
        "updater's own manifest parser.\n\n"
        "A component is <product>:<type>:<version>:<file>:\n"
        "  product  PELK, PELK+, Pelk Updater, Pelk Manager (or base, plus, updater, manager)\n"
        "  type     MP, DSP, Styles, Ensemble for the devices; Win, Mac for the applications\n"
        "           (or mcu, dsp, styles, ensemble, win, mac)\n"
        "  version  R.M.m for firmware (3.1.2), 0x hexadecimal or decimal for Styles and Ensemble,\n"
        "           a semantic version for the applications (2.1.0)\n"
        "  file     a file below the catalogue root; its URL is the base URL followed by its path\n"
        "           below the root.\n\n"
        "Signing: `pelk-catalogue keygen KEY` writes KEY (secret, mode 0600) and KEY.pub; --sign-key KEY\n"
        "writes the manifest's signature to <manifest>.sig; updaters that trust KEY.pub refuse a\n"
        "manifest without a good signature.\n\n"
        "Example:\n"
        "  pelk-catalogue --base-url http://updates.example/pelk --out site/update-manifest.xml \\\n"
        "      --component PELK+:MP:3.2.7:site/plus/mcu-3.2.7-Update.bin"));
    parser.addHelpOption();
    const QCommandLineOption baseUrlOption(QStringLiteral("base-url"),
        QStringLiteral("URL the catalogue root is served at."), QStringLiteral("url"));
    const QCommandLineOption outOption(
        QStringLiteral("out"), QStringLiteral("Manifest file to write."), QStringLiteral("file"));
    const QCommandLineOption rootOption(QStringLiteral("root"),
        QStringLiteral("Catalogue root the URLs are relative to (default: the manifest's directory)."),
        QStringLiteral("dir"));
    const QCommandLineOption dateOption(QStringLiteral("release-date"),
        QStringLiteral("Release date written for every component (default: today, YYYY-MM-DD)."),
        QStringLiteral("text"));
    const QCommandLineOption componentOption(QStringLiteral("component"),
        QStringLiteral("A component, <product>:<type>:<version>:<file>; repeat for each."),
        QStringLiteral("entry"));
    const QCommandLineOption checkOption(QStringLiteral("check"),
        QStringLiteral("Only read an existing manifest with the updater's parser, list its components and "
                       "check each listed file below the root (size and SHA-256)."),
        QStringLiteral("file"));
    const QCommandLineOption signKeyOption(QStringLiteral("sign-key"),
        QStringLiteral("Secret key file to sign the manifest with; the signature goes to <out>.sig."),
        QStringLiteral("file"));
    const QCommandLineOption publicKeyOption(QStringLiteral("public-key"),
        QStringLiteral("With --check: public key file the signature <file>.sig must verify with."),
        QStringLiteral("file"));
    parser.addOptions({ baseUrlOption, outOption, rootOption, dateOption, componentOption, checkOption,
        signKeyOption, publicKeyOption });

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), Usage);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Success);
    const QStringList positional = parser.positionalArguments();
    if (positional.value(0) == QLatin1String("keygen"))
        return keygen(positional);
    if (!positional.isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(positional.first()), Usage);

    if (parser.isSet(checkOption)) {
        const QString manifest = parser.value(checkOption);
        return check(manifest,
            parser.isSet(rootOption) ? parser.value(rootOption) : QFileInfo(manifest).absolutePath(),
            parser.value(publicKeyOption));
    }

    if (!parser.isSet(baseUrlOption) || !parser.isSet(outOption))
        return fail(QStringLiteral("--base-url and --out are needed (see --help)"), Usage);
    if (!parser.isSet(componentOption))
        return fail(QStringLiteral("no components given (--component)"), Usage);

    const QString out = parser.value(outOption);
    const QString root = parser.isSet(rootOption) ? parser.value(rootOption) : QFileInfo(out).absolutePath();
    const QString releaseDate
        = parser.isSet(dateOption) ? parser.value(dateOption) : QDate::currentDate().toString(Qt::ISODate);
    CatalogueWriter writer(QUrl(parser.value(baseUrlOption), QUrl::StrictMode), root, releaseDate);

    QString error;
    // The key is read first, so that a bad key file refuses the run before anything is written.
    QByteArray secretKey;
    if (parser.isSet(signKeyOption)
        && !CatalogueKeys::readSecretKey(parser.value(signKeyOption), &secretKey, &error))
        return fail(error);
    if (!writer.isBaseUrlValid(&error))
        return fail(error);
    for (const QString& text : parser.values(componentOption)) {
        CatalogueEntry entry;
        if (!CatalogueWriter::parseEntry(text, &entry, &error) || !writer.addEntry(entry, &error))
            return fail(error);
    }
    if (!writer.write(out, &error))
        return fail(error);
    if (!secretKey.isEmpty() && !CatalogueKeys::signManifest(out, secretKey, &error))
        return fail(error);

    QTextStream(stdout) << "Wrote " << out << " with " << writer.entries().size() << " components"
                        << (secretKey.isEmpty() ? "" : ", signed") << ".\n";
    return Success;
}
