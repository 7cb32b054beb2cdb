#include "CatalogueSigner.h"

#include "update/CatalogueSignature.h"
#include "support/TestMain.h"

#include <QtTest>

using namespace PelkPlus;

class tst_CatalogueSigner : public QObject
{
    Q_OBJECT

private slots:
    void signsWithEveryKey_data();
    void signsWithEveryKey();
};

void tst_CatalogueSigner::signsWithEveryKey_data()
{
    // Keys by name: "a" and "b" are key pairs, "a with b's half" a's secret half beside b's public
    // one, "short" a key cut to 63 bytes.
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("signatures"); // in the signature made; -1 when it is refused

    QTest::newRow("no key: no signature") << QStringList() << 0;
    QTest::newRow("one key") << QStringList { "a" } << 1;
    QTest::newRow("old and new key") << QStringList { "a", "b" } << 2;
    QTest::newRow("a key that is not one pair") << QStringList { "a", "a with b's half" } << -1;
    QTest::newRow("a key cut short") << QStringList { "short" } << -1;
}

void tst_CatalogueSigner::signsWithEveryKey()
{
    QFETCH(QStringList, keys);
    QFETCH(int, signatures);

    QVERIFY(CatalogueSignature::initialise());
    const CatalogueSignature::KeyPair a = CatalogueSignature::generateKeyPair();
    const CatalogueSignature::KeyPair b = CatalogueSignature::generateKeyPair();
    QList<QByteArray> secretKeys;
    for (const QString& key : keys) {
        if (key == QLatin1String("a"))
            secretKeys.append(a.secretKey);
        else if (key == QLatin1String("b"))
            secretKeys.append(b.secretKey);
        else if (key == QLatin1String("short"))
            secretKeys.append(a.secretKey.left(63));
        else
            secretKeys.append(a.secretKey.left(32) + b.publicKey);
    }

    const QByteArray manifest = "<Family Name=\"PELK\"/>\n";
    QByteArray signature = "left from before";
    QString error;
    const bool made = CatalogueSigner::sign(manifest, secretKeys, &signature, &error);
    QCOMPARE(made, signatures >= 0);
    if (!made) {
        QVERIFY2(
            error.startsWith(QLatin1String("the manifest's signature does not verify")), qPrintable(error));
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(signature.isEmpty(), signatures == 0);
    if (signatures == 0)
        return;
    QList<CatalogueSignature::Signature> parsed;
    QVERIFY(CatalogueSignature::parse(signature, &parsed));
    QCOMPARE(parsed.size(), signatures);
    QVERIFY2(CatalogueSignature::verify(manifest, signature, { a.publicKey }, &error), qPrintable(error));
}

PELK_TEST_MAIN(tst_CatalogueSigner, PelkPlus::ConsoleTest)
#include "tst_CatalogueSigner.moc"
