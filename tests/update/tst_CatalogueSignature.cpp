#include "update/CatalogueSignature.h"

#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QtTest>

#include <sodium.h>

using namespace PelkPlus;

namespace {

const QByteArray manifest = "<Family Name=\"PELK\" Published=\"2026-01-01T00:00:00Z\"/>\n";

// The key-id and signature lines of one signature, without the file's first line.
QByteArray pair(const QByteArray& signedBytes, const QByteArray& secretKey)
{
    const QByteArray file = CatalogueSignature::sign(signedBytes, secretKey);
    return file.mid(file.indexOf('\n') + 1);
}

} // namespace

// The signature file beside a manifest: its grammar, and which keys it lets through.
class tst_CatalogueSignature : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void verify_data();
    void verify();

private:
    QMap<QString, CatalogueSignature::KeyPair> keyPairs;
};

void tst_CatalogueSignature::initTestCase()
{
    QVERIFY(CatalogueSignature::initialise());
    for (const char* name : { "old", "new", "stranger" })
        keyPairs.insert(QLatin1String(name), CatalogueSignature::generateKeyPair());
}

void tst_CatalogueSignature::parse_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("signatures"); // -1: not a signature file

    const QByteArray key = CatalogueSignature::generateKeyPair().secretKey;
    const QByteArray head = "pelk-catalogue-signature ed25519\n";
    const QByteArray one = pair(manifest, key);
    // As the tool wrote it before a file could hold several: the three lines, nothing else.
    QByteArray detached(CatalogueSignature::signatureSize, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(detached.data()), nullptr,
        reinterpret_cast<const unsigned char*>(manifest.constData()), quint64(manifest.size()),
        reinterpret_cast<const unsigned char*>(key.constData()));
    const QByteArray singleFormat = head + "key-id " + CatalogueSignature::keyId(key.mid(32)) + "\nsignature "
        + detached.toBase64() + '\n';
    QByteArray sixteen = head;
    for (int i = 0; i < 16; ++i)
        sixteen += one;

    QTest::newRow("one signature, the format before rotation") << singleFormat << 1;
    QTest::newRow("two signatures") << head + one
            + pair(manifest, CatalogueSignature::generateKeyPair().secretKey)
                                    << 2;
    QTest::newRow("line ends of another system") << QByteArray(singleFormat).replace("\n", "\r\n") << 1;
    QTest::newRow("blank lines around") << "\n\n" + singleFormat + "\n\n" << 1;
    QTest::newRow("sixteen signatures") << sixteen << 16;
    QTest::newRow("seventeen signatures") << sixteen + one << -1;
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("first line only") << head << -1;
    QTest::newRow("another first line") << "pelk-catalogue-signature rsa\n" + one << -1;
    QTest::newRow("key id without signature") << head + one.left(one.indexOf('\n') + 1) << -1;
    QTest::newRow("signature before key id")
        << head + one.mid(one.indexOf('\n') + 1) + one.left(one.indexOf('\n') + 1) << -1;
    QTest::newRow("blank line between") << head + one + '\n' + one << -1;
    QTest::newRow("key id not hexadecimal") << QByteArray(singleFormat).replace("key-id ", "key-id zz") << -1;
    QTest::newRow("second signature broken") << head + one + one.left(one.size() - 8) + "Hoc\n" << -1;
    QTest::newRow("key id followed by NULs")
        << QByteArray(singleFormat).replace("\nsignature", QByteArray(8, '\0') + "\nsignature") << -1;
    QTest::newRow("signature cut short") << singleFormat.left(singleFormat.size() - 6) + "==\n" << -1;
    QTest::newRow("larger than a signature file") << singleFormat + QByteArray(4096, ' ') << -1;
    QTest::newRow("web page") << QByteArray("<html><body>Please log in</body></html>") << -1;
}

void tst_CatalogueSignature::parse()
{
    QFETCH(QByteArray, file);
    QFETCH(int, signatures);

    QList<CatalogueSignature::Signature> parsed;
    QCOMPARE(CatalogueSignature::parse(file, &parsed), signatures >= 0);
    QCOMPARE(parsed.size(), qMax(signatures, 0));
}

void tst_CatalogueSignature::verify_data()
{
    // Signatures as "<key>" (of the manifest) or "<key>:other" (of another manifest), in file order.
    QTest::addColumn<QStringList>("signatures");
    QTest::addColumn<QStringList>("trusted");
    QTest::addColumn<QStringList>("verifiedBy"); // empty: refused
    QTest::addColumn<QString>("complaint");

    const QStringList oldKey { QStringLiteral("old") };
    const QStringList newKey { QStringLiteral("new") };
    const QStringList both { QStringLiteral("old"), QStringLiteral("new") };
    QTest::newRow("one key") << oldKey << oldKey << oldKey << QString();
    QTest::newRow("old and new, old trusted") << both << oldKey << oldKey << QString();
    QTest::newRow("old and new, new trusted") << both << newKey << newKey << QString();
    QTest::newRow("old and new, both trusted") << both << both << both << QString();
    QTest::newRow("a stranger's first, then a trusted one")
        << QStringList { QStringLiteral("stranger"), QStringLiteral("new") } << newKey << newKey << QString();
    QTest::newRow("one of two does not match")
        << QStringList { QStringLiteral("old:other"), QStringLiteral("new") } << both << newKey << QString();
    QTest::newRow("none matches") << QStringList { QStringLiteral("old:other") } << both << QStringList()
                                  << "does not match the catalogue";
    QTest::newRow("no trusted signer")
        << QStringList { QStringLiteral("stranger") } << both << QStringList() << "which is not trusted";
    QTest::newRow("no key trusted") << both << QStringList() << QStringList() << "which is not trusted";
}

void tst_CatalogueSignature::verify()
{
    QFETCH(QStringList, signatures);
    QFETCH(QStringList, trusted);
    QFETCH(QStringList, verifiedBy);
    QFETCH(QString, complaint);

    QByteArray file = "pelk-catalogue-signature ed25519\n";
    for (const QString& entry : signatures) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        file += pair(entry.endsWith(QLatin1String(":other")) ? manifest + ' ' : manifest,
            keyPairs.value(name).secretKey);
    }
    QList<QByteArray> keys;
    for (const QString& name : trusted)
        keys.append(keyPairs.value(name).publicKey);
    QList<QByteArray> expected;
    for (const QString& name : verifiedBy)
        expected.append(keyPairs.value(name).publicKey);

    QString error;
    QList<QByteArray> matching;
    QCOMPARE(CatalogueSignature::verify(manifest, file, keys, &error, &matching), !verifiedBy.isEmpty());
    QCOMPARE(matching, expected);
    QVERIFY2(error.contains(complaint), qPrintable(error));
}

PELK_TEST_MAIN(tst_CatalogueSignature, PelkPlus::ConsoleTest)

#include "tst_CatalogueSignature.moc"
