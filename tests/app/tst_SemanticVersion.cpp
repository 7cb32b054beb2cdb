#include "app/SemanticVersion.h"

#include "app/PelkVersion.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QtTest>

using PelkPlus::applicationVersionText;
using PelkPlus::SemanticVersion;

class tst_SemanticVersion : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void rejects_data();
    void rejects();
    void preReleaseIdentifiers();
    void precedenceChain();
    void ordering_data();
    void ordering();
    void defaultIsZero();
    void applicationVersion();
    void dataVersions_data();
    void dataVersions();
};

void tst_SemanticVersion::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<QString>("printed");

    QTest::newRow("release") << "2.0.2" << 2 << 0 << 2 << "2.0.2";
    QTest::newRow("trailing dot") << "1.2.3." << 1 << 2 << 3 << "1.2.3";
    QTest::newRow("leading blank") << " 1.2.3" << 1 << 2 << 3 << "1.2.3";
    QTest::newRow("letters after digits") << "1a.2.3" << 1 << 2 << 3 << "1.2.3";
    QTest::newRow("empty pre-release") << "1.2.3-" << 1 << 2 << 3 << "1.2.3";
    QTest::newRow("plus is no separator") << "1.2.3+5" << 1 << 2 << 3 << "1.2.3";
    QTest::newRow("leading zeros") << "1.02.3-07" << 1 << 2 << 3 << "1.2.3-7";
    QTest::newRow("pre-release") << "1.4.0-beta.2" << 1 << 4 << 0 << "1.4.0-beta.2";
    QTest::newRow("dash inside identifier") << "1.2.3-beta-2" << 1 << 2 << 3 << "1.2.3-beta-2";
    QTest::newRow("plus inside identifier") << "1.2.3-rc+5" << 1 << 2 << 3 << "1.2.3-rc+5";
    QTest::newRow("sign") << "+1.2.3" << 1 << 2 << 3 << "1.2.3";
    QTest::newRow("int32 limit") << "2147483647.0.0" << 2147483647 << 0 << 0 << "2147483647.0.0";
    QTest::newRow("trailing dot in pre-release") << "1.2.3-rc.1." << 1 << 2 << 3 << "1.2.3-rc.1";
}

void tst_SemanticVersion::parses()
{
    QFETCH(QString, text);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(QString, printed);

    const SemanticVersion version(text);
    QCOMPARE(version.major, major);
    QCOMPARE(version.minor, minor);
    QCOMPARE(version.patch, patch);
    QCOMPARE(version.toString(), printed);
}

void tst_SemanticVersion::rejects_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "";
    QTest::newRow("two numbers") << "1.2";
    QTest::newRow("four numbers") << "1.2.3.4";
    QTest::newRow("empty first") << ".1.2";
    QTest::newRow("empty middle") << "1..2";
    QTest::newRow("empty middle of four") << "1..2.3";
    QTest::newRow("no digits") << "r1.2.3";
    QTest::newRow("only a sign") << "1.+.3";
    QTest::newRow("too large") << "2147483648.0.0";
    QTest::newRow("far too large") << "1.2.99999999999999999999999";
    QTest::newRow("empty identifier") << "1.2.3-beta..1";
    QTest::newRow("leading empty identifier") << "1.2.3-.beta";
    QTest::newRow("identifier out of range") << "1.2.3-99999999999";
    QTest::newRow("dash only core") << "-1.2.3";
}

void tst_SemanticVersion::rejects()
{
    QFETCH(QString, text);
    QVERIFY_EXCEPTION_THROWN(SemanticVersion { text }, SemanticVersion::error);
}

void tst_SemanticVersion::preReleaseIdentifiers()
{
    const SemanticVersion version(QStringLiteral("1.0.0-alpha.7.07.7x.a99999999999.x-1"));
    QCOMPARE(version.preRelease.size(), 6);
    QVERIFY(!version.preRelease.at(0).numeric);
    QCOMPARE(version.preRelease.at(0).text, QByteArray("alpha"));
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(version.preRelease.at(i).numeric);
        QCOMPARE(version.preRelease.at(i).number, 7);
        QVERIFY(version.preRelease.at(i).text.isEmpty());
    }
    QVERIFY(!version.preRelease.at(4).numeric);
    QCOMPARE(version.preRelease.at(4).text, QByteArray("a99999999999"));
    QCOMPARE(version.preRelease.at(5).text, QByteArray("x-1"));
    QCOMPARE(version.toString(), QStringLiteral("1.0.0-alpha.7.7.7.a99999999999.x-1"));

    const SemanticVersion beta(QStringLiteral("1.2.3-beta-2"));
    QCOMPARE(beta.preRelease.size(), 1);
    QCOMPARE(beta.preRelease.at(0).text, QByteArray("beta-2"));
}

void tst_SemanticVersion::precedenceChain()
{
    const QStringList chain { "1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta",
        "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0" };
    for (int i = 0; i < chain.size(); ++i) {
        for (int j = 0; j < chain.size(); ++j) {
            const SemanticVersion a(chain.at(i));
            const SemanticVersion b(chain.at(j));
            QVERIFY2((a < b) == (i < j), qPrintable(chain.at(i) + QStringLiteral(" vs ") + chain.at(j)));
        }
    }
}

void tst_SemanticVersion::ordering_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("higher");

    QTest::newRow("patch") << "2.0.2"
                           << "2.0.3";
    QTest::newRow("pre-release first") << "2.0.3-beta"
                                       << "2.0.3";
    QTest::newRow("numeric, not textual") << "2.0.9"
                                          << "2.0.10";
    QTest::newRow("major beats minor") << "1.9.9"
                                       << "2.0.0";
    QTest::newRow("minor beats patch") << "1.1.9"
                                       << "1.2.0";
    QTest::newRow("number before text") << "1.0.0-9"
                                        << "1.0.0-a";
    QTest::newRow("negative identifier") << "1.0.0-a.-1"
                                         << "1.0.0-a.0";
    QTest::newRow("bytes unsigned") << "1.0.0-z" << QString::fromUtf8("1.0.0-\xc3\xa9");
    QTest::newRow("upper before lower") << "1.0.0-Beta"
                                        << "1.0.0-alpha";
    QTest::newRow("prefix lower") << "1.0.0-rc"
                                  << "1.0.0-rcx";
}

void tst_SemanticVersion::ordering()
{
    QFETCH(QString, lower);
    QFETCH(QString, higher);
    QVERIFY(SemanticVersion(lower) < SemanticVersion(higher));
    QVERIFY(!(SemanticVersion(higher) < SemanticVersion(lower)));
    QVERIFY(!(SemanticVersion(lower) < SemanticVersion(lower)));
    QVERIFY(!(SemanticVersion(higher) < SemanticVersion(higher)));
}

void tst_SemanticVersion::defaultIsZero()
{
    const SemanticVersion version;
    QCOMPARE(version.toString(), QStringLiteral("0.0.0"));
    QVERIFY(version < SemanticVersion(QStringLiteral("0.0.1")));
    QVERIFY(!(SemanticVersion(QStringLiteral("0.0.0")) < version));
}

void tst_SemanticVersion::applicationVersion()
{
    // The stream adds its own blank after the text's.
    QTest::ignoreMessage(QtDebugMsg, QByteArray("App version =  \"") + applicationVersionText + '"');
    const SemanticVersion version = PelkPlus::applicationVersion();
    QCOMPARE(version.toString(), QLatin1String(applicationVersionText));
    QVERIFY(SemanticVersion() < version);
}

void tst_SemanticVersion::dataVersions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("ensemble");
    QTest::addColumn<uint>("styles");

    QTest::newRow("hexadecimal") << "0x1A2B" << 6699u << 6699u;
    QTest::newRow("decimal") << "6699" << 6699u << 6699u;
    QTest::newRow("octal") << "017" << 15u << 15u;
    QTest::newRow("blanks") << "  42 " << 42u << 42u;
    QTest::newRow("five hex digits") << "0x12345" << 0x12345u << 0x2345u;
    QTest::newRow("32 bits") << "0xFFFFFFFF" << 0xFFFFFFFFu << 0xFFFFu;
    QTest::newRow("too large") << "0x100000000" << 0u << 0u;
    QTest::newRow("garbage") << "beta" << 0u << 0u;
    QTest::newRow("trailing garbage") << "12x" << 0u << 0u;
    QTest::newRow("negative") << "-1" << 0u << 0u;
    QTest::newRow("empty") << "" << 0u << 0u;
}

void tst_SemanticVersion::dataVersions()
{
    QFETCH(QString, text);
    QFETCH(uint, ensemble);
    QFETCH(uint, styles);
    QCOMPARE(uint(PelkPlus::ensembleAudioVersionFromText(text)), ensemble);
    QCOMPARE(uint(PelkPlus::stylesVersionFromText(text)), styles);
}

PELK_TEST_MAIN(tst_SemanticVersion, PelkPlus::ConsoleTest)

#include "tst_SemanticVersion.moc"
