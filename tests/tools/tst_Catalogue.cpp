#include "CatalogueNames.h"
#include "CatalogueWriter.h"

#include "support/TestEnvironment.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/KeyRotation.h"
#include "update/KeyStatement.h"
#include "update/UpdateManifestParser.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
#include <QXmlInputSource>
#include <QXmlSimpleReader>
QT_WARNING_POP

using namespace PelkPlus;

namespace {

const char catalogueUrl[] = "http://127.0.0.1:8080/catalogue";
const char releaseDate[] = "2024-05-02";

// "<product>/<type>/<version>/<release date>/<url>" for every component, products in key order.
QStringList summary(const ManifestData& data)
{
    QStringList lines;
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        for (const Component& c : it.value()) {
            lines.append(QStringLiteral("%1/%2/%3/%4/%5")
                             .arg(int(it.key()))
                             .arg(uint(c.type))
                             .arg(c.version, c.releaseDate, c.url.toString(QUrl::FullyEncoded)));
        }
    }
    return lines;
}

} // namespace

class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTrip_data();
    void roundTrip();
    void refusedEntry_data();
    void refusedEntry();
    void parserComplaint_data();
    void parserComplaint();
    void baseUrl_data();
    void baseUrl();
    void commandLine();
    void checkAppliesTheUpdatersBounds_data();
    void checkAppliesTheUpdatersBounds();
    void signedRoundTrip_data();
    void signedRoundTrip();
    void signing_data();
    void signing();
    void secretKeyNeverOpenToOthers();
    void rotation_data();
    void rotation();

private:
    // Creates a non-empty file below the catalogue root for every "<...>:<...>:<...>:<file>" entry.
    void createFiles(const QStringList& entries);
    // Adds every entry; false with the first error.
    bool addAll(CatalogueWriter& writer, const QStringList& entries, QString* error);
    ManifestData parseWithUpdater(const QString& path, bool* ok);

    QScopedPointer<QTemporaryDir> dir;
    QString root;
};

void tst_Catalogue::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    root = dir->filePath(QStringLiteral("site"));
    QVERIFY(QDir().mkpath(root));
}

void tst_Catalogue::createFiles(const QStringList& entries)
{
    for (const QString& entry : entries) {
        const QString relative = entry.section(QLatin1Char(':'), 3);
        if (relative.isEmpty() || relative.startsWith(QLatin1Char('!')))
            continue;
        const QString path = QDir(root).filePath(relative);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("image PELKVER=1.0.0;");
    }
}

bool tst_Catalogue::addAll(CatalogueWriter& writer, const QStringList& entries, QString* error)
{
    for (const QString& argument : entries) {
        // Files are named relative to the root in the tables; the tool takes them as given.
        QString text = argument;
        const QString file = argument.section(QLatin1Char(':'), 3);
        if (!file.isEmpty() && !file.startsWith(QLatin1Char('/')))
            text = argument.section(QLatin1Char(':'), 0, 2) + QLatin1Char(':') + QDir(root).filePath(file);
        CatalogueEntry entry;
        if (!CatalogueNames::parseEntry(text, &entry, error) || !writer.addEntry(entry, error))
            return false;
    }
    return true;
}

ManifestData tst_Catalogue::parseWithUpdater(const QString& path, bool* ok)
{
    // The way the update manager reads a downloaded manifest: a fresh reader over the file.
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    if (!*ok)
        return ManifestData();
    UpdateManifestParser parser;
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QXmlInputSource source(&file);
    QXmlSimpleReader reader;
    reader.setContentHandler(&parser);
    *ok = reader.parse(&source, false);
    QT_WARNING_POP
    return parser.manifestData();
}

void tst_Catalogue::roundTrip_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected");

    const QString u = QLatin1String(catalogueUrl);
    const QString d = QLatin1String(releaseDate);
    auto row = [&](int product, int type, const char* version, const char* path) {
        return QStringLiteral("%1/%2/%3/%4/%5/%6")
            .arg(product)
            .arg(type)
            .arg(QLatin1String(version), d, u, QLatin1String(path));
    };

    QTest::newRow("every product and type")
        << QStringList { QStringLiteral("PELK:MP:3.2.7:base/mcu-Update.bin"),
               QStringLiteral("PELK:DSP:3.1.2:base/dsp.ldr"),
               QStringLiteral("PELK:Ensemble:0x00020014:base/ens.flac"),
               QStringLiteral("PELK+:MP:3.2.7:plus/mcu-Update.bin"),
               QStringLiteral("PELK+:DSP:3.1.2:plus/dsp.ldr"),
               QStringLiteral("PELK+:Styles:0x1A2B:plus/StyleData.bin"),
               QStringLiteral("PELK+:Ensemble:131092:plus/ens.flac"),
               QStringLiteral("Pelk Updater:Win:2.0.2:app/PelkUpdater.exe"),
               QStringLiteral("Pelk Updater:Mac:2.1.0-beta.2:app/PelkUpdater.dmg"),
               QStringLiteral("Pelk Manager:Win:1.4.0:app/PelkManager.exe"),
               QStringLiteral("Pelk Manager:Mac:1.4.0:app/PelkManager.dmg") }
        << QStringList { row(0, 0, "3.2.7", "base/mcu-Update.bin"), row(0, 1, "3.1.2", "base/dsp.ldr"),
               row(0, 3, "0x00020014", "base/ens.flac"), row(1, 0, "3.2.7", "plus/mcu-Update.bin"),
               row(1, 1, "3.1.2", "plus/dsp.ldr"), row(1, 2, "0x1A2B", "plus/StyleData.bin"),
               row(1, 3, "131092", "plus/ens.flac"), row(2, 4, "2.0.2", "app/PelkUpdater.exe"),
               row(2, 5, "2.1.0-beta.2", "app/PelkUpdater.dmg"), row(3, 4, "1.4.0", "app/PelkManager.exe"),
               row(3, 5, "1.4.0", "app/PelkManager.dmg") };

    QTest::newRow("aliases in any case")
        << QStringList { QStringLiteral("plus:mcu:3.0.2:a.bin"), QStringLiteral("BASE:Dsp:3.0.1:b.ldr"),
               QStringLiteral("Updater:WIN:2.0.3:c.exe"), QStringLiteral("manager:mac:1.0.0:d.dmg") }
        << QStringList { row(0, 1, "3.0.1", "b.ldr"), row(1, 0, "3.0.2", "a.bin"),
               row(2, 4, "2.0.3", "c.exe"), row(3, 5, "1.0.0", "d.dmg") };

    // Within a product the publisher's order is the order the updater installs in.
    QTest::newRow("order within a product kept")
        << QStringList { QStringLiteral("plus:ensemble:0x1:e.flac"), QStringLiteral("plus:styles:0x2:s.bin"),
               QStringLiteral("plus:dsp:3.0.3:d.ldr"), QStringLiteral("plus:mcu:3.0.4:m.bin") }
        << QStringList { row(1, 3, "0x1", "e.flac"), row(1, 2, "0x2", "s.bin"), row(1, 1, "3.0.3", "d.ldr"),
               row(1, 0, "3.0.4", "m.bin") };

    QTest::newRow("names that need encoding")
        << QStringList { QStringLiteral("plus:mcu:3.0.2:new files/a&b #1 Update.bin") }
        << QStringList { row(1, 0, "3.0.2", "new%20files/a&b%20%231%20Update.bin") };

    QTest::newRow("data version limits")
        << QStringList { QStringLiteral("plus:styles:0xFFFF:s.bin"),
               QStringLiteral("plus:ensemble:4294967295:e.flac"), QStringLiteral("base:ensemble:0:f.flac") }
        << QStringList { row(0, 3, "0", "f.flac"), row(1, 2, "0xFFFF", "s.bin"),
               row(1, 3, "4294967295", "e.flac") };
}

void tst_Catalogue::roundTrip()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);

    createFiles(entries);
    CatalogueWriter writer(QUrl(QLatin1String(catalogueUrl)), root, QLatin1String(releaseDate));
    QString error;
    QVERIFY2(addAll(writer, entries, &error), qPrintable(error));
    const QString path = QDir(root).filePath(QStringLiteral("update-manifest.xml"));
    QVERIFY2(writer.write(path, &error), qPrintable(error));

    bool ok = false;
    const ManifestData data = parseWithUpdater(path, &ok);
    QVERIFY(ok);
    QCOMPARE(summary(data), expected);
}

void tst_Catalogue::refusedEntry_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("complaint");

    auto one = [](const char* entry) { return QStringList { QLatin1String(entry) }; };
    QTest::newRow("three fields") << one("plus:mcu:3.0.2") << "is not <product>:<type>:<version>:<file>";
    QTest::newRow("no file") << one("plus:mcu:3.0.2:") << "names no file";
    QTest::newRow("unknown product") << one("pelk2:mcu:3.0.2:a.bin") << "unknown product \"pelk2\"";
    QTest::newRow("product with blank inside") << one("PELK +:mcu:3.0.2:a.bin") << "unknown product";
    QTest::newRow("unknown type") << one("plus:firmware:3.0.2:a.bin") << "unknown type \"firmware\"";
    QTest::newRow("firmware of two numbers") << one("plus:mcu:3.2:a.bin") << "is not R.M.m";
    QTest::newRow("firmware minor above 15") << one("plus:dsp:3.2.16:a.bin") << "is not R.M.m";
    QTest::newRow("firmware release type 4") << one("plus:mcu:4.0.0:a.bin") << "is not R.M.m";
    QTest::newRow("firmware with letters") << one("base:mcu:3.x.1:a.bin") << "is not R.M.m";
    QTest::newRow("styles beyond 16 bits") << one("plus:styles:0x10000:a.bin") << "16-bit";
    QTest::newRow("styles read as octal") << one("plus:styles:0100:a.bin") << "16-bit";
    QTest::newRow("ensemble beyond 32 bits") << one("plus:ensemble:0x100000000:a.bin") << "32-bit";
    QTest::newRow("ensemble negative") << one("plus:ensemble:-1:a.bin") << "32-bit";
    QTest::newRow("application of two numbers") << one("updater:win:2.1:a.bin") << "semantic version";
    // Read back by the updater as another text than the one published.
    QTest::newRow("application with a leading zero") << one("updater:win:01.2.3:a.bin") << "read as 1.2.3";
    QTest::newRow("application with an empty suffix")
        << one("updater:mac:1.2.3-:a.bin") << "application version \"1.2.3-\"";
    QTest::newRow("application with a letter")
        << one("manager:win:1a.2.3:a.bin") << "application version \"1a.2.3\"";
    QTest::newRow("missing file") << one("plus:mcu:3.0.2:!missing.bin") << "no such file";
    QTest::newRow("file outside the root")
        << one("plus:mcu:3.0.2:/etc/hostname") << "not below the catalogue root";
    QTest::newRow("listed twice") << QStringList { QStringLiteral("plus:mcu:3.0.2:a.bin"),
        QStringLiteral("PELK+:MP:3.0.3:b.bin") }
                                  << "already listed (3.0.2)";
}

void tst_Catalogue::refusedEntry()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, complaint);

    createFiles(entries);
    CatalogueWriter writer(QUrl(QLatin1String(catalogueUrl)), root, QLatin1String(releaseDate));
    QString error;
    QVERIFY(!addAll(writer, entries, &error));
    QVERIFY2(error.contains(complaint), qPrintable(error));
    QCOMPARE(writer.entries().size(), entries.size() - 1);
}

void tst_Catalogue::parserComplaint_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("complaint");
    QTest::addColumn<QString>("refused");

    QTest::newRow("device component for the updater")
        << QStringList { QStringLiteral("plus:mcu:3.0.2:a.bin"), QStringLiteral("updater:mcu:2.0.3:b.bin") }
        << QString::fromLatin1(releaseDate) << "Invalid component name"
        << "Pelk Updater:MP:2.0.3";
    QTest::newRow("application component for a device")
        << QStringList { QStringLiteral("base:win:2.0.3:b.exe") } << QString::fromLatin1(releaseDate)
        << "Invalid component name"
        << "PELK:Win:2.0.3";
    QTest::newRow("empty version") << QStringList { QStringLiteral("plus:dsp::a.ldr") }
                                   << QString::fromLatin1(releaseDate) << "Invalid component version"
                                   << "PELK+:DSP::";
    QTest::newRow("empty release date") << QStringList { QStringLiteral("plus:dsp:3.0.1:a.ldr") } << QString()
                                        << "Invalid component release date"
                                        << "PELK+:DSP:3.0.1";
}

void tst_Catalogue::parserComplaint()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, date);
    QFETCH(QString, complaint);
    QFETCH(QString, refused);

    createFiles(entries);
    const QString path = QDir(root).filePath(QStringLiteral("update-manifest.xml"));
    const QByteArray previous = "<Family Name=\"PELK\"/>\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(previous);
    }

    CatalogueWriter writer(QUrl(QLatin1String(catalogueUrl)), root, date);
    QString error;
    QVERIFY2(addAll(writer, entries, &error), qPrintable(error));
    // The parser's own complaint, logged as the updater would log it.
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(complaint));
    QVERIFY(!writer.write(path, &error));
    QVERIFY2(error.contains(complaint), qPrintable(error));
    QVERIFY2(error.contains(refused), qPrintable(error));

    // A refused manifest never replaces the published one.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), previous);
}

void tst_Catalogue::baseUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("updater"); // whether an updater package may be listed under it

    QTest::newRow("http") << "http://127.0.0.1:8080/catalogue" << true << true;
    QTest::newRow("https with trailing slash") << "https://updates.example/pelk/" << true << true;
    QTest::newRow("http of another computer") << "http://updates.example/pelk" << true << false;
    QTest::newRow("ftp") << "ftp://updates.example/pelk" << false << false;
    QTest::newRow("no scheme") << "updates.example/pelk" << false << false;
    QTest::newRow("no host") << "http:///pelk" << false << false;
    QTest::newRow("query") << "http://updates.example/pelk?x=1" << false << false;
    QTest::newRow("fragment") << "http://updates.example/pelk#x" << false << false;
}

void tst_Catalogue::baseUrl()
{
    QFETCH(QString, url);
    QFETCH(bool, valid);
    QFETCH(bool, updater);

    CatalogueWriter writer(QUrl(url, QUrl::StrictMode), root, QLatin1String(releaseDate));
    QString error;
    QCOMPARE(writer.isBaseUrlValid(&error), valid);
    QCOMPARE(error.isEmpty(), valid);
    if (!valid)
        return;

    // A trailing slash in the base does not double the separator.
    createFiles({ QStringLiteral("plus:mcu:3.0.2:m.bin") });
    QVERIFY2(addAll(writer, { QStringLiteral("plus:mcu:3.0.2:m.bin") }, &error), qPrintable(error));
    QString expected = url;
    if (!expected.endsWith(QLatin1Char('/')))
        expected += QLatin1Char('/');
    QCOMPARE(writer.entries().first().url.toString(), expected + QStringLiteral("m.bin"));
    createFiles({ QStringLiteral("updater:win:9.0.0:setup.exe") });
    QCOMPARE(addAll(writer, { QStringLiteral("updater:win:9.0.0:setup.exe") }, &error), updater);
    QCOMPARE(error.contains(QLatin1String("must be served over https")), !updater);
}

void tst_Catalogue::commandLine()
{
    const QString tool = QStringLiteral(PELK_CATALOGUE);
    createFiles(
        { QStringLiteral("plus:mcu:3.0.2:plus/m.bin"), QStringLiteral("updater:win:2.0.2:app/u.exe") });
    const QString out = QDir(root).filePath(QStringLiteral("update-manifest.xml"));

    QProcess process;
    process.setWorkingDirectory(root);
    auto run = [&](const QStringList& arguments) {
        process.start(tool, arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    };

    QVERIFY(run({ QStringLiteral("--base-url"), QLatin1String(catalogueUrl), QStringLiteral("--out"), out,
        QStringLiteral("--release-date"), QLatin1String(releaseDate), QStringLiteral("--component"),
        QStringLiteral("plus:mcu:3.0.2:plus/m.bin"), QStringLiteral("--component"),
        QStringLiteral("Pelk Updater:Win:2.0.2:app/u.exe") }));
    QCOMPARE(process.exitCode(), 0);
    bool ok = false;
    QCOMPARE(summary(parseWithUpdater(out, &ok)),
        QStringList({ QStringLiteral("1/0/3.0.2/2024-05-02/http://127.0.0.1:8080/catalogue/plus/m.bin"),
            QStringLiteral("2/4/2.0.2/2024-05-02/http://127.0.0.1:8080/catalogue/app/u.exe") }));
    QVERIFY(ok);

    QVERIFY(run({ QStringLiteral("--check"), out }));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray listing = process.readAllStandardOutput();
    QVERIFY2(listing.contains("PELK+\tMP\t3.0.2\t2024-05-02\thttp://127.0.0.1:8080/catalogue/plus/m.bin\n"),
        listing.constData());

    // The same entries as a bundle, checked from within; the updater's package keeps its URL alone.
    const QString bundle = QDir(root).filePath(QStringLiteral("bundle.tar"));
    QVERIFY(run({ QStringLiteral("bundle"), QStringLiteral("--out"), bundle, QStringLiteral("--release-date"),
        QLatin1String(releaseDate), QStringLiteral("--component"),
        QStringLiteral("plus:mcu:3.0.2:plus/m.bin"), QStringLiteral("--component"),
        QStringLiteral("base:mcu:3.0.2:plus/m.bin"), QStringLiteral("--component"),
        QStringLiteral("Pelk Updater:Win:2.0.2:app/u.exe") }));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(run({ QStringLiteral("--check"), bundle }));
    QCOMPARE(process.exitCode(), 0);
    // One file listed for both models is carried once.
    QVERIFY(process.readAllStandardOutput().contains(
        "PELK\tMP\t3.0.2\t2024-05-02\thttps://bundle.invalid/plus/m.bin\n"
        "PELK+\tMP\t3.0.2\t2024-05-02\thttps://bundle.invalid/plus/m.bin\n"));
    QVERIFY(process.readAllStandardError().contains("plus/m.bin, update-manifest.xml."));
    // One byte of the firmware changed inside the bundle.
    QFile image(QDir(root).filePath(QStringLiteral("plus/m.bin")));
    QFile tar(bundle);
    QVERIFY(image.open(QIODevice::ReadOnly) && tar.open(QIODevice::ReadWrite));
    QByteArray bytes = tar.readAll();
    const int at = bytes.indexOf(image.readAll());
    QVERIFY(at > 0);
    bytes[at] = char(bytes.at(at) ^ 1);
    QVERIFY(tar.seek(0) && tar.write(bytes) == bytes.size());
    tar.close();
    QVERIFY(run({ QStringLiteral("--check"), bundle }));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("is not the one the catalogue describes"));

    // The parser's complaint reaches the publisher and the exit code says it failed.
    QVERIFY(run({ QStringLiteral("--base-url"), QLatin1String(catalogueUrl), QStringLiteral("--out"), out,
        QStringLiteral("--component"), QStringLiteral("updater:mcu:2.0.3:plus/m.bin") }));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(process.readAllStandardError().contains("Invalid component name"), "no complaint on stderr");

    QVERIFY(run({ QStringLiteral("--out"), out, QStringLiteral("--component"),
        QStringLiteral("plus:mcu:3.0.2:plus/m.bin") }));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(run({ QStringLiteral("--base-url"), QLatin1String(catalogueUrl), QStringLiteral("--out"), out }));
    QCOMPARE(process.exitCode(), 2);

    // The refused runs left the good manifest in place.
    QCOMPARE(parseWithUpdater(out, &ok).value(ManifestProduct::Plus).size(), 1);
}

void tst_Catalogue::checkAppliesTheUpdatersBounds_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("complaint");

    QByteArray deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    for (int i = 0; i < 100000; ++i)
        deep += "</a>";
    QByteArray many = "<Family Name=\"PELK\"><Product Name=\"PELK\"><Components>";
    for (int i = 0; i <= UpdateManifestParser::maximumComponents; ++i)
        many += "<Component Name=\"MP\" Version=\"1.0.0\" ReleaseDate=\"d\" URL=\"http://h/a\"/>";
    many += "</Components></Product></Family>";
    const QByteArray large = "<Family Name=\"PELK\"><!--"
        + QByteArray(int(UpdateManifestParser::maximumManifestSize), ' ') + "--></Family>";
    QTest::newRow("100 000 nested elements") << deep << "Elements nested deeper than 16";
    QTest::newRow("too many components") << many << "More than 256 components";
    QTest::newRow("larger than 4 MiB") << large << "Manifest larger than 4194304 bytes";
}

void tst_Catalogue::checkAppliesTheUpdatersBounds()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QString, complaint);

    const QString path = QDir(root).filePath(QStringLiteral("update-manifest.xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(manifest);
    file.close();
    QProcess process;
    process.start(QStringLiteral(PELK_CATALOGUE), { QStringLiteral("--check"), path });
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QByteArray errors = process.readAllStandardError();
    QVERIFY2(errors.contains(complaint.toUtf8()), errors.constData());
}

void tst_Catalogue::signedRoundTrip_data()
{
    QTest::addColumn<QString>("spoil");
    QTest::addColumn<int>("signExit");
    QTest::addColumn<QString>("complaint"); // from --check; empty when it passes

    QTest::newRow("signed and checked") << QString() << 0 << QString();
    QTest::newRow("file changed by one byte") << "file" << 0 << "has SHA-256";
    QTest::newRow("manifest changed by one byte") << "manifest" << 0 << "does not match the catalogue";
    QTest::newRow("checked with another key") << "other key" << 0 << "which is not trusted";
    QTest::newRow("truncated signature") << "signature" << 0 << "not a catalogue signature";
    QTest::newRow("secret key readable by others") << "mode" << 1 << "may be read by others";
    QTest::newRow("secret key of the wrong size") << "size" << 1 << "holds no secret key";
}

void tst_Catalogue::signedRoundTrip()
{
    QFETCH(QString, spoil);
    QFETCH(int, signExit);
    QFETCH(QString, complaint);

    QProcess process;
    process.setWorkingDirectory(root);
    auto run = [&](const QStringList& arguments) {
        process.start(QStringLiteral(PELK_CATALOGUE), arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    };
    const QString key = dir->filePath(QStringLiteral("key"));
    QVERIFY(run({ QStringLiteral("keygen"), key }));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QFile::permissions(key) & 0x0fff, QFileDevice::ReadUser | QFileDevice::WriteUser); // mode 0600
    QVERIFY(run({ QStringLiteral("keygen"), key }));
    QCOMPARE(process.exitCode(), 1); // never replaced
    const QString other = dir->filePath(QStringLiteral("other"));
    QVERIFY(run({ QStringLiteral("keygen"), other }));

    if (spoil == QLatin1String("mode"))
        QFile::setPermissions(key, QFile::permissions(key) | QFileDevice::ReadGroup);
    if (spoil == QLatin1String("size")) {
        QFile file(key);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(32, 'k').toBase64());
    }
    createFiles({ QStringLiteral("plus:mcu:3.0.2:plus/m.bin") });
    const QString out = QDir(root).filePath(QStringLiteral("update-manifest.xml"));
    QVERIFY(run({ QStringLiteral("--base-url"), QLatin1String(catalogueUrl), QStringLiteral("--out"), out,
        QStringLiteral("--sign-key"), key, QStringLiteral("--component"),
        QStringLiteral("plus:mcu:3.0.2:plus/m.bin") }));
    QCOMPARE(process.exitCode(), signExit);
    if (signExit != 0) {
        QVERIFY(process.readAllStandardError().contains(complaint.toUtf8()));
        QVERIFY(!QFile::exists(out));
        return;
    }

    auto flipLastByte = [](const QString& path) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        bytes[bytes.size() - 2] = char(bytes.at(bytes.size() - 2) ^ 1);
        file.seek(0);
        file.write(bytes);
    };
    {
        // The size is signed with the rest.
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains(" Size=\"20\""));
    }
    if (spoil == QLatin1String("file"))
        flipLastByte(QDir(root).filePath(QStringLiteral("plus/m.bin")));
    if (spoil == QLatin1String("manifest"))
        flipLastByte(out);
    if (spoil == QLatin1String("signature"))
        QVERIFY(QFile::resize(out + QStringLiteral(".sig"), 60));
    const QString publicKey = (spoil == QLatin1String("other key") ? other : key) + QStringLiteral(".pub");
    QVERIFY(run({ QStringLiteral("--check"), out, QStringLiteral("--public-key"), publicKey }));
    const QByteArray errors = process.readAllStandardError();
    QCOMPARE(process.exitCode(), complaint.isEmpty() ? 0 : 1);
    QVERIFY2(
        complaint.isEmpty() ? errors.contains("Signature verified") : errors.contains(complaint.toUtf8()),
        errors.constData());
}

void tst_Catalogue::signing_data()
{
    // Runs of the tool, one after the other: "sign KEY..." (or "sign" for none), "days N" for
    // --expires-days, "blocked" for a signature that cannot be written.
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<int>("exitCode");   // of the last run
    QTest::addColumn<int>("signatures"); // in the .sig beside the manifest afterwards; -1 none
    QTest::addColumn<int>("days");       // from Published to Expires in the manifest afterwards
    QTest::addColumn<bool>("replaced");  // whether the last run replaced the manifest

    QTest::newRow("one key") << QStringList { "sign a" } << 0 << 1 << 30 << true;
    QTest::newRow("old and new key") << QStringList { "sign a b" } << 0 << 2 << 30 << true;
    QTest::newRow("a week") << QStringList { "sign a days 7" } << 0 << 1 << 7 << true;
    QTest::newRow("no days") << QStringList { "sign a", "sign a days 0" } << 2 << 1 << 30 << false;
    QTest::newRow("the longest validity") << QStringList { "sign a days 90" } << 0 << 1 << 90 << true;
    QTest::newRow("longer than updaters hold it")
        << QStringList { "sign a", "sign a days 91" } << 2 << 1 << 30 << false;
    QTest::newRow("unsigned after signed: the old signature goes")
        << QStringList { "sign a", "sign" } << 0 << -1 << 30 << true;
    // The new manifest waits for its signature: one that cannot be written leaves the old pair.
    QTest::newRow("signature cannot be written")
        << QStringList { "sign", "sign a blocked" } << 1 << -1 << 30 << false;
    QTest::newRow("a bad key among good ones")
        << QStringList { "sign a", "sign a bad" } << 1 << 1 << 30 << false;
}

void tst_Catalogue::signing()
{
    QFETCH(QStringList, runs);
    QFETCH(int, exitCode);
    QFETCH(int, signatures);
    QFETCH(int, days);
    QFETCH(bool, replaced);

    QProcess process;
    process.setWorkingDirectory(root);
    auto run = [&](const QStringList& arguments) {
        process.start(QStringLiteral(PELK_CATALOGUE), arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    };
    for (const char* name : { "a", "b" })
        QVERIFY(run({ QStringLiteral("keygen"), dir->filePath(QLatin1String(name)) }));
    const QString bad = dir->filePath(QStringLiteral("bad"));
    {
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a key\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    createFiles({ QStringLiteral("plus:mcu:3.0.2:plus/m.bin") });
    const QString out = QDir(root).filePath(QStringLiteral("update-manifest.xml"));
    const QString signature = out + QStringLiteral(".sig");

    QByteArray before;
    for (int i = 0; i < runs.size(); ++i) {
        QFile previous(out);
        before = previous.open(QIODevice::ReadOnly) ? previous.readAll() : QByteArray();
        QStringList arguments { QStringLiteral("--base-url"), QLatin1String(catalogueUrl),
            QStringLiteral("--out"), out, QStringLiteral("--component"),
            QStringLiteral("plus:mcu:3.0.%1:plus/m.bin").arg(i + 2) };
        const QStringList words = runs.at(i).split(QLatin1Char(' '));
        for (int w = 1; w < words.size(); ++w) {
            if (words.at(w) == QLatin1String("days"))
                arguments << QStringLiteral("--expires-days") << words.at(++w);
            else if (words.at(w) == QLatin1String("blocked"))
                QVERIFY(QDir().mkpath(signature));
            else
                arguments << QStringLiteral("--sign-key") << dir->filePath(words.at(w));
        }
        QVERIFY(run(arguments));
    }
    QCOMPARE(process.exitCode(), exitCode);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray manifest = file.readAll();
    QCOMPARE(manifest != before, replaced);

    const CatalogueHeader header = CatalogueHeader::read(manifest);
    QCOMPARE(header.kind, CatalogueHeader::Catalogue);
    QVERIFY(qAbs(header.published.secsTo(QDateTime::currentDateTimeUtc())) < 120);
    QCOMPARE(header.published.daysTo(header.expires), qint64(days));

    QList<CatalogueSignature::Signature> parsed;
    QFile signatureFile(signature);
    QCOMPARE(QFileInfo(signature).isFile(), signatures >= 0);
    if (signatures < 0)
        return;
    QVERIFY(signatureFile.open(QIODevice::ReadOnly));
    const QByteArray signatureText = signatureFile.readAll();
    QVERIFY(CatalogueSignature::parse(signatureText, &parsed));
    QCOMPARE(parsed.size(), signatures);
    // Every key signed the manifest that stands beside the signature, and --check says so.
    const QStringList keys = signatures == 2 ? QStringList { "a", "b" } : QStringList { "a" };
    for (const QString& key : keys) {
        QVERIFY(run({ QStringLiteral("--check"), out, QStringLiteral("--public-key"),
            dir->filePath(key + QStringLiteral(".pub")) }));
        const QByteArray errors = process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0 && errors.contains("Signature verified"), errors.constData());
        QVERIFY2(errors.contains("expires"), errors.constData());
    }
}

void tst_Catalogue::rotation_data()
{
    // pelk-catalogue rotate's options, key files named by key ("old", "new"; ".pub" for the public
    // half), then a catalogue signed by the new key carrying the statement, as an updater trusting
    // the old key reads it.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("complaint"); // of rotate; empty when it writes the statement

    QTest::newRow("new key trusted, signed by the old")
        << QStringList { "--old-key", "old", "--new-key", "new.pub" } << QString();
    QTest::newRow("revoking its only signer") << QStringList { "--old-key", "old", "--new-key", "new.pub",
        "--revoke", "old.pub" } << "its only signer";
    QTest::newRow("no key named") << QStringList { "--old-key", "old" } << "names no key";
}

void tst_Catalogue::rotation()
{
    QFETCH(QStringList, options);
    QFETCH(QString, complaint);

    QProcess process;
    process.setWorkingDirectory(dir->path());
    auto run = [&](const QStringList& arguments) {
        process.start(QStringLiteral(PELK_CATALOGUE), arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    };
    for (const char* name : { "old", "new" })
        QVERIFY(run({ QStringLiteral("keygen"), QLatin1String(name) }));
    // The catalogue's files are named below the root, where it is written from.
    process.setWorkingDirectory(root);
    for (QString& option : options) {
        if (!option.startsWith(QLatin1Char('-')))
            option = dir->filePath(option);
    }
    const QString statementPath = dir->filePath(QStringLiteral("statement.xml"));
    QVERIFY(run(QStringList { QStringLiteral("rotate"), QStringLiteral("-o"), statementPath } + options));
    const QByteArray errors = process.readAllStandardError();
    QCOMPARE(process.exitCode(), complaint.isEmpty() ? 0 : 1);
    QVERIFY2(errors.contains(complaint.toUtf8()), errors.constData());
    QCOMPARE(QFile::exists(statementPath), complaint.isEmpty());
    if (!complaint.isEmpty())
        return;

    createFiles({ QStringLiteral("plus:mcu:3.0.2:plus/m.bin") });
    const QString out = QDir(root).filePath(QStringLiteral("update-manifest.xml"));
    QVERIFY(run({ QStringLiteral("--base-url"), QLatin1String(catalogueUrl), QStringLiteral("--out"), out,
        QStringLiteral("--sign-key"), dir->filePath(QStringLiteral("new")), QStringLiteral("--key-statement"),
        statementPath, QStringLiteral("--component"), QStringLiteral("plus:mcu:3.0.2:plus/m.bin") }));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QFile manifestFile(out);
    QVERIFY(manifestFile.open(QIODevice::ReadOnly));
    KeyStatement statement;
    bool found = false;
    QString error;
    QVERIFY2(KeyStatement::readFromCatalogue(manifestFile.readAll(), &statement, &found, &error) && found,
        qPrintable(error));
    auto publicKey = [this](const char* name) {
        QFile file(dir->filePath(QLatin1String(name) + QStringLiteral(".pub")));
        QByteArray key;
        return file.open(QIODevice::ReadOnly)
                && CatalogueSignature::decodeKey(file.readAll(), CatalogueSignature::publicKeySize, &key)
            ? key
            : QByteArray();
    };
    KeyRotation::Keys now;
    now.trusted = now.listed = { publicKey("old") };
    const KeyRotation rotation
        = KeyRotation::evaluate(statement, now, KeyRotation::LastApplied(), QDateTime::currentDateTimeUtc());
    QVERIFY2(rotation.verdict == KeyRotation::Apply, qPrintable(rotation.refusal));
    QCOMPARE(rotation.after.trusted, (QList<QByteArray> { publicKey("old"), publicKey("new") }));
}

void tst_Catalogue::secretKeyNeverOpenToOthers()
{
    // The file's mode is set where it is created: no instant exists in which another account could
    // open it and read the key being written.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        PELK_SKIP_UNLESS_REQUIRED("strace is not installed (scripts/install-deps.sh installs it)");
    const QString key = dir->filePath(QStringLiteral("key"));
    const QString trace = dir->filePath(QStringLiteral("trace"));
    QProcess process;
    process.start(QStringLiteral("strace"),
        { QStringLiteral("-f"), QStringLiteral("-e"),
            QStringLiteral("trace=open,openat,creat,chmod,fchmod,fchmodat"), QStringLiteral("-o"), trace,
            QStringLiteral(PELK_CATALOGUE), QStringLiteral("keygen"), key });
    QVERIFY(process.waitForFinished(30000));
    if (process.exitCode() != 0 && !QFile::exists(key))
        QSKIP("strace cannot trace here");
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray created;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.contains('"' + QFile::encodeName(key) + '"'))
            created += line + '\n';
    }
    QVERIFY2(created.contains("O_CREAT") && created.contains("0600"), created.constData());
    QCOMPARE(QFile::permissions(key) & 0x0fff, QFileDevice::ReadUser | QFileDevice::WriteUser);
}

PELK_TEST_MAIN(tst_Catalogue, PelkPlus::ConsoleTest)

#include "tst_Catalogue.moc"
