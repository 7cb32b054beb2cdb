#include "update/KeyRotation.h"

#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/KeyStatement.h"
#include "support/TestMain.h"

#include <QXmlStreamWriter>
#include <QtTest>

using namespace PelkPlus;

// Which key statements a catalogue may carry, and what the updater trusts after one.
class tst_KeyRotation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void evaluate_data();
    void evaluate();

private:
    QList<QByteArray> publicKeys(const QStringList& names) const;
    KeyStatement statement(qint64 offsetSecs, const QStringList& trust, const QStringList& revoke,
        const QStringList& signers) const;
    static QByteArray catalogue(const QList<KeyStatement>& statements);

    QMap<QString, CatalogueSignature::KeyPair> keys;
    QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
};

void tst_KeyRotation::initTestCase()
{
    QVERIFY(CatalogueSignature::initialise());
    for (const char* name : { "old", "new", "backup", "stranger" })
        keys.insert(QLatin1String(name), CatalogueSignature::generateKeyPair());
}

QList<QByteArray> tst_KeyRotation::publicKeys(const QStringList& names) const
{
    QList<QByteArray> list;
    for (const QString& name : names)
        list.append(keys.value(name).publicKey);
    return list;
}

KeyStatement tst_KeyRotation::statement(
    qint64 offsetSecs, const QStringList& trust, const QStringList& revoke, const QStringList& signers) const
{
    KeyStatement made;
    made.issued = now.addSecs(offsetSecs);
    made.trusted = publicKeys(trust);
    made.revoked = publicKeys(revoke);
    QList<QByteArray> secretKeys;
    for (const QString& name : signers)
        secretKeys.append(keys.value(name).secretKey);
    made.sign(secretKeys);
    return made;
}

QByteArray tst_KeyRotation::catalogue(const QList<KeyStatement>& statements)
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("Family"));
    xml.writeAttribute(QStringLiteral("Name"), QStringLiteral("PELK"));
    for (const KeyStatement& statement : statements)
        statement.write(&xml);
    xml.writeEmptyElement(QStringLiteral("Product"));
    xml.writeEndDocument();
    return text;
}

void tst_KeyRotation::evaluate_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QStringList>("trusted"); // update/trusted-keys now
    QTest::addColumn<QStringList>("revoked"); // update/revoked-keys now
    // The statement applied before: none, this very one, one issued a minute after, or another of
    // the same time.
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("verdict"); // -1: not read, -2: no statement
    QTest::addColumn<QStringList>("trustedAfter");
    QTest::addColumn<QString>("complaint");

    const QStringList none;
    const QStringList old { QStringLiteral("old") };
    const QStringList newKey { QStringLiteral("new") };
    const QStringList oldAndBackup { QStringLiteral("old"), QStringLiteral("backup") };
    const int apply = KeyRotation::Apply;
    const int refuse = KeyRotation::Refuse;
    const KeyStatement rotation = statement(-60, newKey, none, old);
    const QByteArray rotated = catalogue({ rotation });

    QTest::newRow("new key trusted, signed by the old")
        << rotated << old << none << QString() << apply << QStringList { "old", "new" } << QString();
    QTest::newRow("old key revoked by a second trusted key")
        << catalogue({ statement(-60, newKey, old, { "backup" }) }) << oldAndBackup << none << QString()
        << apply << QStringList { "backup", "new" } << QString();
    QTest::newRow("carried again") << rotated << old << none << "same" << int(KeyRotation::AlreadyApplied)
                                   << none << QString();
    QTest::newRow("revoking its only signer")
        << catalogue({ statement(-60, none, old, old) }) << old << none << QString() << refuse << none
        << QStringLiteral("it is signed only by key %1, which it revokes")
               .arg(QString::fromLatin1(CatalogueSignature::keyId(keys.value("old").publicKey)));
    // The new key's signature counts for nothing: the updater does not trust it yet.
    QTest::newRow("revoking the old key, signed by the old and the new")
        << catalogue({ statement(-60, newKey, old, { "old", "new" }) }) << old << none << QString() << refuse
        << none << "which it revokes";
    QTest::newRow("unknown key") << catalogue({ statement(-60, newKey, none, { "stranger" }) }) << old << none
                                 << QString() << refuse << none << "the key statement is signed by key";
    QTest::newRow("signed by a revoked key") << rotated << QStringList { "old", "backup" } << old << QString()
                                             << refuse << none << "which is not trusted";
    QTest::newRow("trust changed after signing")
        << QByteArray(rotated).replace(CatalogueSignature::encodeKey(keys.value("new").publicKey),
               CatalogueSignature::encodeKey(keys.value("stranger").publicKey))
        << old << none << QString() << refuse << none << "does not match the key statement";
    QTest::newRow("replay of an older statement")
        << rotated << old << none << "later" << refuse << none << ", before the one already applied";
    QTest::newRow("another statement of the same time")
        << rotated << old << none << "other" << refuse << none << "no later than the one already applied";
    QTest::newRow("issued ahead of the clock")
        << catalogue({ statement(86400, newKey, none, old) }) << old << none << QString() << refuse << none
        << "later than this computer's clock";
    QTest::newRow("trusts a revoked key")
        << catalogue({ statement(-60, { "stranger" }, none, old) }) << old << QStringList { "stranger" }
        << QString() << refuse << none << "which is revoked";
    QTest::newRow("lock-out: revokes every key, trusts none")
        << catalogue({ statement(-60, none, oldAndBackup, oldAndBackup) }) << oldAndBackup << none
        << QString() << refuse << none << "which it revokes";
    QTest::newRow("catalogue without a statement")
        << catalogue({}) << old << none << QString() << -2 << none << QString();
    QTest::newRow("malformed: two statements") << catalogue({ rotation, rotation }) << old << none
                                               << QString() << -1 << none << "more than one key statement";
    QTest::newRow("malformed: no time") << QByteArray(rotated).replace("Issued=", "Isued=") << old << none
                                        << QString() << -1 << none << "(Issued)";
    QTest::newRow("malformed: time without offset")
        << QByteArray(rotated).replace("Z\">", "\">") << old << none << QString() << -1 << none << "(Issued)";
    QTest::newRow("malformed: not a key") << QByteArray(rotated).replace("<Trust Key=\"", "<Trust Key=\"x")
                                          << old << none << QString() << -1 << none << "is not a public key";
    QTest::newRow("malformed: not signed") << catalogue({ statement(-60, newKey, none, none) }) << old << none
                                           << QString() << -1 << none << "it is not signed";
    QTest::newRow("malformed: signature cut short")
        << QByteArray(rotated).replace("\" Value=\"", "\" Value=\"AAAA") << old << none << QString() << -1
        << none << "not a key id and an Ed25519 signature";
    QTest::newRow("malformed: an element of its own") << QByteArray(rotated).replace("<Trust ", "<Trusted ")
                                                      << old << none << QString() << -1 << none << "Trusted";
}

void tst_KeyRotation::evaluate()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QStringList, trusted);
    QFETCH(QStringList, revoked);
    QFETCH(QString, last);
    QFETCH(int, verdict);
    QFETCH(QStringList, trustedAfter);
    QFETCH(QString, complaint);

    KeyStatement read;
    bool found = false;
    QString error;
    const bool readable = KeyStatement::readFromCatalogue(manifest, &read, &found, &error);
    if (verdict < 0) {
        QCOMPARE(readable, verdict == -2);
        QVERIFY(verdict == -1 || !found);
        QVERIFY2(error.contains(complaint), qPrintable(error));
        return;
    }
    QVERIFY2(readable && found, qPrintable(error));

    KeyRotation::Keys now;
    now.listed = publicKeys(trusted);
    now.revoked = publicKeys(revoked);
    for (const QByteArray& key : qAsConst(now.listed)) {
        if (!now.revoked.contains(key))
            now.trusted.append(key);
    }
    KeyRotation::LastApplied applied;
    if (!last.isEmpty()) {
        applied.issued = read.issued.addSecs(last == QLatin1String("later") ? 60 : 0);
        applied.digest = last == QLatin1String("same") ? read.digest() : QByteArray(32, 'x');
    }
    const KeyRotation rotation = KeyRotation::evaluate(read, now, applied, this->now);
    QVERIFY2(rotation.refusal.contains(complaint), qPrintable(rotation.refusal));
    QCOMPARE(int(rotation.verdict), verdict);
    if (verdict == KeyRotation::Apply) {
        QCOMPARE(rotation.after.trusted, publicKeys(trustedAfter));
        QCOMPARE(rotation.after.listed, publicKeys(trustedAfter));
        QVERIFY(rotation.refusal.isEmpty());
    }
}

PELK_TEST_MAIN(tst_KeyRotation, PelkPlus::ConsoleTest)

#include "tst_KeyRotation.moc"
