#include "update/UpdateManifestParser.h"

#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
#include <QXmlInputSource>
QT_WARNING_POP

using namespace PelkPlus;

namespace {

const char header[] = "<?xml version=\"1.0\"?>\n";

QByteArray component(const char* name, const char* version = "1.0.0", const char* url = "http://h/x.bin")
{
    return QByteArray("<Component Name=\"") + name + "\" Version=\"" + version
        + "\" ReleaseDate=\"2024-01-01\" URL=\"" + url + "\"/>";
}

QByteArray product(const char* name, const QByteArray& components)
{
    return QByteArray("<Product Name=\"") + name + "\"><Components>" + components + "</Components></Product>";
}

QByteArray family(const QByteArray& content)
{
    return header + QByteArray("<Family Name=\"PELK\">") + content + "</Family>";
}

// "product/type/version" for every component, in map order then manifest order.
QStringList summary(const ManifestData& data)
{
    QStringList lines;
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        for (const Component& c : it.value())
            lines.append(QStringLiteral("%1/%2/%3").arg(int(it.key())).arg(uint(c.type)).arg(c.version));
    }
    return lines;
}

} // namespace

class tst_UpdateManifestParser : public QObject
{
    Q_OBJECT

private slots:
    void grammar_data();
    void grammar();
    void realisticManifest();
    void componentFields();
    void acceptedComponentsStayAfterFailure();
    void dataAccumulatesAcrossDocuments();
    void stateStackEmptyAfterParse();
    void endElementOnEmptyStack();
    void componentTypeNames_data();
    void componentTypeNames();
    void entityExpansionRefused();
    void externalEntityRefused();

private:
    bool parseText(UpdateManifestParser& parser, const QByteArray& xml);
    QTemporaryDir dir;
};

bool tst_UpdateManifestParser::parseText(UpdateManifestParser& parser, const QByteArray& xml)
{
    // Through a real file, as the update manager reads the downloaded manifest.
    QFile file(dir.filePath(QStringLiteral("update-manifest.xml")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(xml) != xml.size())
        return false;
    file.close();
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QXmlInputSource source(&file);
    return parser.parse(&source);
    QT_WARNING_POP
}

void tst_UpdateManifestParser::grammar_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("components");

    const QString name = QStringLiteral("Invalid component name");
    const QString version = QStringLiteral("Invalid component version");
    const QString date = QStringLiteral("Invalid component release date");
    const QString url = QStringLiteral("Invalid component url");

    QTest::newRow("plus with one dsp") << family(product("PELK+", component("DSP", "3.1.2"))) << true
                                       << QString() << QStringList { "1/1/3.1.2" };
    QTest::newRow("other family") << QByteArray(header) + "<Family Name=\"OTHER\">"
            + product("PELK", component("MP")) + "</Family>"
                                  << true << QString() << QStringList();
    QTest::newRow("other root") << QByteArray(header) + "<Catalog>" + product("PELK", component("MP"))
            + "</Catalog>" << true
                                << QString() << QStringList();
    QTest::newRow("family in lower case")
        << QByteArray(header) + "<family Name=\"PELK\">" + product("PELK", component("MP")) + "</family>"
        << true << QString() << QStringList();
    QTest::newRow("prefixed family") << QByteArray(header) + "<p:Family xmlns:p=\"urn:x\" Name=\"PELK\">"
            + product("PELK", component("MP")) + "</p:Family>"
                                     << true << QString() << QStringList();
    QTest::newRow("device name under application")
        << family(product("Pelk Updater", component("MP"))) << false << name << QStringList();
    QTest::newRow("application name under device")
        << family(product("PELK", component("Win"))) << false << name << QStringList();
    QTest::newRow("name case") << family(product("PELK", component("mp"))) << false << name << QStringList();
    QTest::newRow("missing name") << family(
        product("PELK", "<Component Version=\"1\" ReleaseDate=\"d\" URL=\"http://h/x\"/>"))
                                  << false << name << QStringList();
    QTest::newRow("empty version") << family(product("PELK", component("MP", ""))) << false << version
                                   << QStringList();
    QTest::newRow("missing version") << family(
        product("PELK", "<Component Name=\"MP\" ReleaseDate=\"d\" URL=\"http://h/x\"/>"))
                                     << false << version << QStringList();
    QTest::newRow("missing date") << family(
        product("PELK", "<Component Name=\"MP\" Version=\"1\" URL=\"http://h/x\"/>"))
                                  << false << date << QStringList();
    QTest::newRow("empty url") << family(product("PELK", component("MP", "1", ""))) << false << url
                               << QStringList();
    QTest::newRow("Url spelling") << family(
        product("PELK", "<Component Name=\"MP\" Version=\"1\" ReleaseDate=\"d\" Url=\"http://h/x\"/>"))
                                  << false << url << QStringList();
    QTest::newRow("url spelling") << family(
        product("PELK", "<Component Name=\"MP\" Version=\"1\" ReleaseDate=\"d\" url=\"http://h/x\"/>"))
                                  << false << url << QStringList();
    QTest::newRow("name checked before version")
        << family(product("PELK", "<Component Name=\"Win\" ReleaseDate=\"d\" URL=\"http://h/x\"/>")) << false
        << name << QStringList();
    QTest::newRow("version checked before date")
        << family(product("PELK", "<Component Name=\"MP\" URL=\"http://h/x\"/>")) << false << version
        << QStringList();
    QTest::newRow("date checked before url")
        << family(product("PELK", "<Component Name=\"MP\" Version=\"1\"/>")) << false << date
        << QStringList();
    QTest::newRow("extra attribute accepted") << family(product(
        "PELK", "<Component Name=\"MP\" Version=\"2.0.1\" ReleaseDate=\"d\" URL=\"http://h/x\" Sha=\"ab\"/>"))
                                              << true << QString() << QStringList { "0/0/2.0.1" };
    const QByteArray digest = QByteArray(63, 'a') + 'f';
    const QString digestError = QStringLiteral("Invalid component SHA256");
    auto withDigest = [](const QByteArray& value) {
        return family(product("PELK",
            "<Component Name=\"MP\" Version=\"1\" ReleaseDate=\"d\" "
            "URL=\"http://h/x\" SHA256=\""
                + value + "\"/>"));
    };
    QTest::newRow("digest") << withDigest(digest) << true << QString() << QStringList { "0/0/1" };
    QTest::newRow("digest in upper case")
        << withDigest(digest.toUpper()) << false << digestError << QStringList();
    QTest::newRow("digest too short") << withDigest(digest.left(63)) << false << digestError << QStringList();
    QTest::newRow("digest not hexadecimal")
        << withDigest(digest.left(63) + 'g') << false << digestError << QStringList();
    QTest::newRow("empty digest") << withDigest(QByteArray()) << false << digestError << QStringList();
    QTest::newRow("children of a component ignored") << family(product("PELK",
        "<Component Name=\"DSP\" Version=\"2\" ReleaseDate=\"d\" URL=\"http://h/x\">"
        "<Component Name=\"Bogus\"/><Notes>text</Notes></Component>"))
                                                     << true << QString() << QStringList { "0/1/2" };
    QTest::newRow("component without Components wrapper")
        << family("<Product Name=\"PELK\">" + component("MP") + "</Product>") << true << QString()
        << QStringList();
    QTest::newRow("nested unknown elements skipped whole")
        << family("<Archive><Old><Product Name=\"PELK\"><Components>" + component("MP")
               + "</Components></Product></Old></Archive>" + product("PELK+", component("Styles", "7")))
        << true << QString() << QStringList { "1/2/7" };
    QTest::newRow("unknown element inside Components")
        << family(product("PELK", "<Group>" + component("Bogus") + "</Group>" + component("Ensemble", "9")))
        << true << QString() << QStringList { "0/3/9" };
    QTest::newRow("unknown element inside Product") << family("<Product Name=\"PELK\"><Extras><Components>"
        + component("Bogus") + "</Components></Extras></Product>")
                                                    << true << QString() << QStringList();
    QTest::newRow("product name in lower case")
        << family(product("pelk", component("Bogus"))) << true << QString() << QStringList();
    QTest::newRow("product name with trailing blank")
        << family(product("PELK ", component("Bogus"))) << true << QString() << QStringList();
    QTest::newRow("products accumulate in document order")
        << family(product("PELK", component("MP", "1.0.1"))
               + product("Pelk Manager", component("Mac", "0.9.0"))
               + product("PELK", component("MP", "1.0.2") + component("DSP", "1.0.3")))
        << true << QString() << QStringList { "0/0/1.0.1", "0/0/1.0.2", "0/1/1.0.3", "3/5/0.9.0" };
    QTest::newRow("text content ignored")
        << family("some text" + product("PELK", "text" + component("MP") + "more")) << true << QString()
        << QStringList { "0/0/1.0.0" };
    QTest::newRow("doctype without entities")
        << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE Family>\n<Family Name=\"PELK\">"
               + product("PELK", component("MP")) + "</Family>")
        << true << QString() << QStringList { "0/0/1.0.0" };
    QTest::newRow("malformed") << family(product("PELK", component("MP"))).replace("</Family>", "</Famly>")
                               << false << QString() << QStringList { "0/0/1.0.0" };
    QTest::newRow("truncated") << family(product("PELK", component("MP"))).left(60) << false << QString()
                               << QStringList();
    QTest::newRow("empty document") << QByteArray() << false << QString() << QStringList();
}

void tst_UpdateManifestParser::grammar()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, ok);
    QFETCH(QString, message);
    QFETCH(QStringList, components);

    UpdateManifestParser parser;
    if (!message.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, qPrintable(message));
    QCOMPARE(parseText(parser, xml), ok);
    QCOMPARE(summary(parser.manifestData()), components);
    if (ok)
        QVERIFY(parser.isStateStackEmpty());
}

void tst_UpdateManifestParser::realisticManifest()
{
    QFile file(QStringLiteral(PELK_UPDATE_TEST_DATA "/update-manifest.xml"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    UpdateManifestParser parser;
    QVERIFY(parseText(parser, file.readAll()));
    QCOMPARE(summary(parser.manifestData()),
        QStringList({ "0/0/3.2.7", "0/1/3.1.2", "0/3/0x00020014", "1/0/3.2.7", "1/1/3.1.2", "1/2/0x1A2B",
            "1/3/131092", "2/4/2.1.0", "2/5/2.1.0-beta.2", "3/4/1.4.0", "3/5/1.4.0" }));
    QCOMPARE(parser.currentProduct(), ManifestProduct::Manager);
}

void tst_UpdateManifestParser::componentFields()
{
    UpdateManifestParser parser;
    QVERIFY(parseText(parser,
        family(product("PELK+",
            "<Component Name=\"Styles\" Version=\" 0x1A2B \" ReleaseDate=\"Feb 2024\" "
            "URL=\"http://host.example/a b/styles.bin\" SHA256=\""
                + QByteArray(64, '0') + "\"/>"))));
    const QList<Component> list = parser.manifestData().value(ManifestProduct::Plus);
    QCOMPARE(list.size(), 1);
    const Component& c = list.first();
    QCOMPARE(c.type, ComponentType::Styles);
    QCOMPARE(c.version, QStringLiteral(" 0x1A2B "));
    QCOMPARE(c.releaseDate, QStringLiteral("Feb 2024"));
    // Tolerant parsing mends the blank.
    QCOMPARE(c.url, QUrl(QStringLiteral("http://host.example/a%20b/styles.bin")));
    QVERIFY(c.localPath.isEmpty());
    QCOMPARE(c.size, qint64(0));
    QCOMPARE(c.sha256, QByteArray(32, '\0'));
}

void tst_UpdateManifestParser::acceptedComponentsStayAfterFailure()
{
    UpdateManifestParser parser;
    QTest::ignoreMessage(QtCriticalMsg, "Invalid component version");
    QVERIFY(!parseText(
        parser, family(product("PELK", component("MP", "1") + component("DSP", "") + component("Styles")))));
    QCOMPARE(summary(parser.manifestData()), QStringList { "0/0/1" });
}

void tst_UpdateManifestParser::dataAccumulatesAcrossDocuments()
{
    UpdateManifestParser parser;
    QVERIFY(parseText(parser, family(product("PELK", component("MP", "1")))));
    QVERIFY(parseText(parser, family(product("PELK", component("MP", "2")))));
    QCOMPARE(summary(parser.manifestData()), QStringList({ "0/0/1", "0/0/2" }));
    parser.clearManifestData();
    QVERIFY(parser.manifestData().isEmpty());
}

void tst_UpdateManifestParser::stateStackEmptyAfterParse()
{
    UpdateManifestParser parser;
    // A failed document leaves states behind; the next document starts from an empty stack.
    QTest::ignoreMessage(QtCriticalMsg, "Invalid component url");
    QVERIFY(!parseText(parser, family(product("PELK", component("MP", "1", "")))));
    QVERIFY(!parser.isStateStackEmpty());
    QVERIFY(parseText(parser, family(product("PELK", component("MP")))));
    QVERIFY(parser.isStateStackEmpty());
    QVERIFY(parser.endDocument());
}

void tst_UpdateManifestParser::endElementOnEmptyStack()
{
    UpdateManifestParser parser;
    QVERIFY(parser.startDocument());
    QTest::ignoreMessage(QtCriticalMsg, "ERROR: UpdateManifestParser: Failed to pop state.");
    QVERIFY(!parser.endElement(QString(), QString(), QStringLiteral("Family")));
}

void tst_UpdateManifestParser::componentTypeNames_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0u << "MCU Firmware";
    QTest::newRow("1") << 1u << "DSP Firmware";
    QTest::newRow("2") << 2u << "Styles";
    QTest::newRow("3") << 3u << "Ensemble Audio";
    QTest::newRow("4") << 4u << "Windows Application";
    QTest::newRow("5") << 5u << "Mac OS X Application";
    QTest::newRow("6") << 6u << "Unknown Component";
    QTest::newRow("large") << 0xffffffffu << "Unknown Component";
}

void tst_UpdateManifestParser::componentTypeNames()
{
    QFETCH(uint, type);
    QFETCH(QString, name);
    QCOMPARE(componentTypeName(static_cast<ComponentType>(type)), name);
}

void tst_UpdateManifestParser::entityExpansionRefused()
{
    // One 10 KiB entity referenced 60 000 times would swell to 600 MB as it is read.
    QByteArray xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE Family [\n<!ENTITY big \"" + QByteArray(10240, 'x')
        + "\">\n]>\n<Family Name=\"PELK\"><Product Name=\"PELK\"><Components>"
          "<Component Name=\"MP\" Version=\"1\" ReleaseDate=\"";
    for (int i = 0; i < 60000; ++i)
        xml += "&big;";
    xml += "\" URL=\"http://h/x\"/></Components></Product></Family>";

    UpdateManifestParser parser;
    QTest::ignoreMessage(QtCriticalMsg, "UpdateManifestParser: Manifest declares entities; refused.");
    QVERIFY(!parseText(parser, xml));
    QVERIFY(parser.manifestData().isEmpty());
}

void tst_UpdateManifestParser::externalEntityRefused()
{
    const QByteArray xml
        = "<?xml version=\"1.0\"?>\n<!DOCTYPE Family [\n<!ENTITY ext SYSTEM \"file:///etc/passwd\">\n]>\n"
        + family(product("PELK", component("MP"))).mid(int(qstrlen(header)));
    UpdateManifestParser parser;
    QTest::ignoreMessage(QtCriticalMsg, "UpdateManifestParser: Manifest declares entities; refused.");
    QVERIFY(!parseText(parser, xml));
}

PELK_TEST_MAIN(tst_UpdateManifestParser, PelkPlus::ConsoleTest)

#include "tst_UpdateManifestParser.moc"
