// pelk-catalogue: writes the update manifest that Pelk Updater reads, from the component files a
// publisher names, and checks it with the updater's own parser before it replaces the old one.

#include "BundleWriter.h"
#include "CatalogueChecker.h"
#include "CatalogueKeys.h"
#include "CatalogueNames.h"
#include "CatalogueWriter.h"
#include "KeyStatementWriter.h"
#include "ManifestXml.h"

#include "update/CatalogueFreshness.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/KeyRotation.h"
#include "update/KeyStatement.h"
#include "update/UpdateBundle.h"
#include "update/UpdateManifestParser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>

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
            out << CatalogueNames::productName(it.key()) << '\t'
                << CatalogueNames::componentName(component.type) << '\t' << component.version << '\t'
                << component.releaseDate << '\t' << component.url.toString(QUrl::FullyEncoded) << '\n';
        }
    }
}

using FileCheck = std::function<bool(ManifestData*, QStringList*)>;

// Reads the manifest as the updater would, then checks every file it lists (checkFiles) and, given
// a public key file, its signature and its times. The bytes verified are the bytes parsed.
int check(const QString& path, const QString& publicKeyPath, const FileCheck& checkFiles)
{
    QByteArray manifest;
    QString error;
    // Larger than the parser's bound, which then refuses it in its own words.
    if (!CatalogueKeys::readSmallFile(path, 2 * UpdateManifestParser::maximumManifestSize, &manifest, &error))
        return fail(error);
    QTextStream err(stderr);
    // First, as the updater does: nothing of a manifest that fails its signature is read.
    if (!publicKeyPath.isEmpty()) {
        QByteArray key;
        if (!CatalogueKeys::readPublicKey(publicKeyPath, &key, &error)
            || !CatalogueKeys::verifyManifest(manifest, path + QStringLiteral(".sig"), key, &error))
            return fail(error);
        err << "Signature verified (key " << CatalogueSignature::keyId(key) << ").\n";
        const CatalogueHeader header = CatalogueHeader::read(manifest);
        // What an updater trusting the key refuses whatever it accepted before.
        const QString refusal
            = CatalogueFreshness(QString()).refusal(header, {}, QDateTime::currentDateTimeUtc());
        if (!refusal.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(path, refusal));
        err << "Published " << CatalogueFreshness::displayTime(header.published) << ", expires "
            << CatalogueFreshness::displayTime(header.expires) << ".\n";
        KeyStatement statement;
        bool carried = false;
        if (!KeyStatement::readFromCatalogue(manifest, &statement, &carried, &error))
            return fail(QStringLiteral("%1: its key statement cannot be read: %2").arg(path, error));
        if (carried)
            err << "Key statement issued " << CatalogueFreshness::displayTime(statement.issued) << ": trust "
                << KeyRotation::keyIds(statement.trusted) << ", revoke "
                << KeyRotation::keyIds(statement.revoked) << ".\n";
        err.flush();
    }
    ManifestData data;
    if (!ManifestXml::readBack(manifest, &data, &error))
        return fail(QStringLiteral("%1: the updater would refuse this manifest: %2").arg(path, error));
    printComponents(data);

    QStringList problems;
    if (!checkFiles(&data, &problems)) {
        for (const QString& problem : qAsConst(problems))
            err << "pelk-catalogue: " << problem << '\n';
        err.flush();
        return fail(QStringLiteral("%1: %2 listed file(s) do not match").arg(path).arg(problems.size()));
    }
    return Success;
}

// A bundle is checked as the updater reads it: its catalogue as a manifest beside its signature,
// and every device component's file within it.
int checkBundle(const QString& path, const QString& publicKeyPath)
{
    UpdateBundle bundle;
    QString error;
    if (!bundle.open(path, &error))
        return fail(QStringLiteral("%1: %2").arg(path, error));
    QTemporaryDir folder;
    const QString manifest = folder.filePath(QLatin1String(UpdateBundle::manifestName));
    QFile manifestFile(manifest);
    QFile signatureFile(manifest + QStringLiteral(".sig"));
    if (!folder.isValid() || !manifestFile.open(QIODevice::WriteOnly)
        || manifestFile.write(bundle.manifest()) != bundle.manifest().size()
        || (bundle.hasSignature()
            && (!signatureFile.open(QIODevice::WriteOnly)
                || signatureFile.write(bundle.signature()) != bundle.signature().size())))
        return fail(QStringLiteral("%1: its catalogue cannot be written to a temporary folder").arg(path));
    manifestFile.close();
    signatureFile.close();
    QTextStream(stderr) << "Bundle " << path << ": " << bundle.names().join(QStringLiteral(", ")) << ".\n";
    return check(manifest, publicKeyPath, [&bundle](ManifestData* data, QStringList* problems) {
        QString refusal;
        if (!bundle.attach(data, &refusal))
            problems->append(refusal);
        for (const QList<Component>& components : qAsConst(*data)) {
            for (const Component& component : components) {
                if (!component.localPath.isEmpty() && component.sha256.isEmpty())
                    problems->append(QStringLiteral("%1 %2: the manifest gives no SHA256")
                                         .arg(componentTypeName(component.type), component.version));
            }
        }
        return problems->isEmpty();
    });
}

// An update bundle starts with no XML: a tar's first name, or a compressor's magic.
bool looksLikeBundle(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(64).trimmed();
    return !start.isEmpty() && !start.startsWith('<') && !start.startsWith("\xef\xbb\xbf")
        && !start.startsWith("\xff\xfe") && !start.startsWith("\xfe\xff");
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

struct RotateOptions
{
    QStringList signingKeys;
    QStringList newKeys;
    QStringList revokedKeys;
    QString out;
};

// Writes the statement that moves updaters to a new signing key; see the help text.
int rotate(const RotateOptions& options)
{
    if (options.out.isEmpty())
        return fail(QStringLiteral("usage: pelk-catalogue rotate --old-key OLD_KEY [--new-key NEW_KEY.pub] "
                                   "[--revoke KEY.pub] --out STATEMENT"),
            Usage);
    QString error;
    QList<QByteArray> secretKeys;
    for (const QString& path : options.signingKeys) {
        QByteArray key;
        if (!CatalogueKeys::readSecretKey(path, &key, &error))
            return fail(error);
        secretKeys.append(key);
    }
    QList<QByteArray> keyLists[2];
    const QStringList* paths[2] = { &options.newKeys, &options.revokedKeys };
    for (int i = 0; i < 2; ++i) {
        for (const QString& path : *paths[i]) {
            QByteArray key;
            if (!CatalogueKeys::readPublicKey(path, &key, &error))
                return fail(error);
            keyLists[i].append(key);
        }
    }
    KeyStatement statement;
    if (!KeyStatementWriter::make(
            secretKeys, keyLists[0], keyLists[1], QDateTime::currentDateTimeUtc(), &statement, &error)
        || !KeyStatementWriter::save(options.out, statement, &error))
        return fail(error);
    QList<QByteArray> signers;
    for (const QByteArray& key : qAsConst(secretKeys))
        signers.append(key.mid(32));
    QTextStream(stdout) << "Wrote " << options.out << ": trust " << KeyRotation::keyIds(statement.trusted)
                        << ", revoke " << KeyRotation::keyIds(statement.revoked) << ", signed by "
                        << KeyRotation::keyIds(signers)
                        << ".\nPut it into every catalogue with --key-statement " << options.out << ".\n";
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
        "writes the manifest's signature to <manifest>.sig (repeat --sign-key to sign with several keys\n"
        "while one replaces another); updaters that trust KEY.pub refuse a manifest without a good\n"
        "signature, and one that has expired (--expires-days) or is older than one they accepted.\n\n"
        "Rotating keys: `pelk-catalogue rotate --old-key OLD --new-key NEW.pub [--revoke KEY.pub] --out\n"
        "STATEMENT` writes a key statement signed with OLD (repeat each option as needed); --key-statement\n"
        "STATEMENT puts it into the manifest, and updaters that trust OLD then trust NEW.pub and revoke\n"
        "the keys named, before they check the manifest's signature. A statement is refused when it\n"
        "revokes every key that signs it.\n\n"
        "Bundles: `pelk-catalogue bundle --out BUNDLE.tar.gz --component ... [--sign-key KEY]` writes one\n"
        "file holding the signed manifest and every device component's file, for updaters without\n"
        "network access (pelk-cli update --bundle, or the window's File menu); --base-url is optional\n"
        "there. --check accepts a bundle as well as a manifest.\n\n"
        "Example:\n"
        "  pelk-catalogue --base-url http://updates.example/pelk --out site/update-manifest.xml \\\n"
        "      --component PELK+:MP:3.2.7:site/plus/mcu-3.2.7-Update.bin"));
    parser.addHelpOption();
    const QCommandLineOption baseUrlOption(QStringLiteral("base-url"),
        QStringLiteral("URL the catalogue root is served at."), QStringLiteral("url"));
    const QCommandLineOption outOption(QStringList { QStringLiteral("o"), QStringLiteral("out") },
        QStringLiteral("Manifest file to write (with rotate: the statement file)."), QStringLiteral("file"));
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
        QStringLiteral("Secret key file to sign the manifest with; the signatures go to <out>.sig. Repeat "
                       "to sign with each key."),
        QStringLiteral("file"));
    const QCommandLineOption expiresOption(QStringLiteral("expires-days"),
        QStringLiteral("Days from now until updaters that trust the key refuse the manifest as stale "
                       "(default 30, at most 90)."),
        QStringLiteral("days"), QStringLiteral("30"));
    const QCommandLineOption publicKeyOption(QStringLiteral("public-key"),
        QStringLiteral("With --check: public key file the signature <file>.sig must verify with."),
        QStringLiteral("file"));
    const QCommandLineOption statementOption(QStringLiteral("key-statement"),
        QStringLiteral("Key statement file (written by rotate) the manifest carries."),
        QStringLiteral("file"));
    const QCommandLineOption oldKeyOption(QStringLiteral("old-key"),
        QStringLiteral("With rotate: secret key file, trusted by updaters now, to sign the statement with."),
        QStringLiteral("file"));
    const QCommandLineOption newKeyOption(QStringLiteral("new-key"),
        QStringLiteral("With rotate: public key file updaters are to trust."), QStringLiteral("file"));
    const QCommandLineOption revokeOption(QStringLiteral("revoke"),
        QStringLiteral("With rotate: public key file updaters are to revoke."), QStringLiteral("file"));
    parser.addOptions(
        { baseUrlOption, outOption, rootOption, dateOption, componentOption, checkOption, signKeyOption,
            publicKeyOption, expiresOption, statementOption, oldKeyOption, newKeyOption, revokeOption });

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), Usage);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Success);
    const QStringList positional = parser.positionalArguments();
    if (positional.value(0) == QLatin1String("keygen"))
        return keygen(positional);
    if (positional.value(0) == QLatin1String("rotate") && positional.size() == 1)
        return rotate({ parser.values(oldKeyOption), parser.values(newKeyOption), parser.values(revokeOption),
            parser.value(outOption) });
    const bool bundle = positional.value(0) == QLatin1String("bundle") && positional.size() == 1;
    if (!positional.isEmpty() && !bundle)
        return fail(QStringLiteral("unexpected argument %1").arg(positional.first()), Usage);

    if (parser.isSet(checkOption)) {
        const QString manifest = parser.value(checkOption);
        if (looksLikeBundle(manifest))
            return checkBundle(manifest, parser.value(publicKeyOption));
        const QString root
            = parser.isSet(rootOption) ? parser.value(rootOption) : QFileInfo(manifest).absolutePath();
        return check(
            manifest, parser.value(publicKeyOption), [&root](ManifestData* data, QStringList* problems) {
                return CatalogueChecker::checkFiles(*data, root, problems);
            });
    }

    if ((!bundle && !parser.isSet(baseUrlOption)) || !parser.isSet(outOption))
        return fail(QStringLiteral("--base-url and --out are needed (see --help)"), Usage);
    if (!parser.isSet(componentOption))
        return fail(QStringLiteral("no components given (--component)"), Usage);

    const QString out = parser.value(outOption);
    const QString root = parser.isSet(rootOption) ? parser.value(rootOption) : QFileInfo(out).absolutePath();
    const QString releaseDate
        = parser.isSet(dateOption) ? parser.value(dateOption) : QDate::currentDate().toString(Qt::ISODate);
    // The URLs of a bundle's catalogue only name its files, unless the publisher gives the online one.
    const QString baseUrl = parser.isSet(baseUrlOption) ? parser.value(baseUrlOption)
                                                        : QStringLiteral("https://bundle.invalid/");
    CatalogueWriter writer(QUrl(baseUrl, QUrl::StrictMode), root, releaseDate);

    bool daysOk = false;
    const int days = parser.value(expiresOption).toInt(&daysOk);
    if (!daysOk || days < 1 || days > CatalogueFreshness::maximumValidityDays)
        return fail(QStringLiteral("--expires-days must be a number of days from 1 to %1: updaters take a "
                                   "catalogue for expired %1 days after it was published")
                        .arg(CatalogueFreshness::maximumValidityDays),
            Usage);
    const QDateTime published = QDateTime::currentDateTimeUtc();
    writer.setValidity(published, published.addDays(days));

    QString error;
    // The keys are read first, so that a bad key file refuses the run before anything is written.
    QList<QByteArray> secretKeys;
    for (const QString& keyPath : parser.values(signKeyOption)) {
        QByteArray secretKey;
        if (!CatalogueKeys::readSecretKey(keyPath, &secretKey, &error))
            return fail(error);
        secretKeys.append(secretKey);
    }
    if (parser.isSet(statementOption)) {
        KeyStatement statement;
        if (!KeyStatementWriter::load(parser.value(statementOption), &statement, &error))
            return fail(error);
        writer.setKeyStatement(statement);
    }
    if (!writer.isBaseUrlValid(&error))
        return fail(error);
    for (const QString& text : parser.values(componentOption)) {
        CatalogueEntry entry;
        if (!CatalogueNames::parseEntry(text, &entry, &error) || !writer.addEntry(entry, &error))
            return fail(error);
    }
    if (bundle) {
        // The catalogue is written and proved as a published one is, then put into the bundle.
        QTemporaryDir folder;
        const QString manifest = folder.filePath(QLatin1String(UpdateBundle::manifestName));
        QByteArray text;
        QByteArray signature;
        if (!folder.isValid() || !writer.write(manifest, secretKeys, &error)
            || !CatalogueKeys::readSmallFile(
                manifest, UpdateManifestParser::maximumManifestSize, &text, &error)
            || (!secretKeys.isEmpty()
                && !CatalogueKeys::readSmallFile(manifest + QStringLiteral(".sig"),
                    CatalogueSignature::maximumFileSize, &signature, &error))
            || !BundleWriter::write(out, text, signature, writer.entries(), &error))
            return fail(error.isEmpty() ? QStringLiteral("no temporary folder for the catalogue") : error);
    } else if (!writer.write(out, secretKeys, &error)) {
        return fail(error);
    }

    QTextStream(stdout) << "Wrote " << out << " with " << writer.entries().size() << " components"
                        << (secretKeys.isEmpty()
                                   ? QString()
                                   : QStringLiteral(", signed with %1 key(s)").arg(secretKeys.size()))
                        << ".\n";
    return Success;
}
