#include "update/ResumeValidator.h"

#include "support/ScriptedReply.h"
#include "support/TestMain.h"

#include <QtTest>

using namespace PelkPlus;

class tst_ResumeValidator : public QObject
{
    Q_OBJECT

private slots:
    void continuesHeldFile_data();
    void continuesHeldFile();
};

using Headers = ScriptedReply::Headers;

void tst_ResumeValidator::continuesHeldFile_data()
{
    QTest::addColumn<Headers>("whole");       // the answer whose first 100 bytes are held
    QTest::addColumn<QByteArray>("ifRange");  // what the resuming request names
    QTest::addColumn<Headers>("resumed");     // the partial answer to it
    QTest::addColumn<qint64>("expectedSize"); // the catalogue's, -1 for none
    QTest::addColumn<QString>("reason");      // empty: the answer continues the held file

    const QByteArray monday = "Mon, 07 Dec 2026 10:00:00 GMT";
    const QByteArray tuesday = "Tue, 08 Dec 2026 10:00:00 GMT";
    const Headers etag { { "ETag", "\"v1\"" }, { "Content-Length", "300" } };
    const Headers dated { { "ETag", "W/\"v1\"" }, { "Last-Modified", monday }, { "Content-Length", "300" } };
    const Headers unannounced { { "ETag", "\"v1\"" } };
    const QByteArray range = "bytes 100-299/300";
    const QString moved = QStringLiteral("The server resumed at another byte than asked for.");
    const QString longer = QStringLiteral("The server resumed a file of another length than announced.");
    const QString changed = QStringLiteral("The file changed on the server.");

    QTest::newRow("same etag") << etag << QByteArray("\"v1\"")
                               << Headers { { "Content-Range", range }, { "ETag", "\"v1\"" } } << qint64(-1)
                               << QString();
    QTest::newRow("etag changed") << etag << QByteArray("\"v1\"")
                                  << Headers { { "Content-Range", range }, { "ETag", "\"v2\"" } }
                                  << qint64(-1) << changed;
    // A weak ETag promises no identical bytes: the date decides, whatever the ETag says.
    QTest::newRow("weak etag, same date")
        << dated << monday
        << Headers { { "Content-Range", range }, { "ETag", "W/\"v2\"" }, { "Last-Modified", monday } }
        << qint64(-1) << QString();
    QTest::newRow("weak etag, date changed")
        << dated << monday
        << Headers { { "Content-Range", range }, { "ETag", "W/\"v1\"" }, { "Last-Modified", tuesday } }
        << qint64(-1) << changed;
    QTest::newRow("another first byte")
        << etag << QByteArray("\"v1\"")
        << Headers { { "Content-Range", "bytes 120-299/300" }, { "ETag", "\"v1\"" } } << qint64(-1) << moved;
    QTest::newRow("unreadable range")
        << etag << QByteArray("\"v1\"")
        << Headers { { "Content-Range", "bytes 100-299" }, { "ETag", "\"v1\"" } } << qint64(-1) << moved;
    QTest::newRow("another length") << etag << QByteArray("\"v1\"")
                                    << Headers { { "Content-Range", "bytes 100-309/310" },
                                           { "ETag", "\"v1\"" } }
                                    << qint64(-1) << longer;
    QTest::newRow("whole length unknown to the server")
        << etag << QByteArray("\"v1\"")
        << Headers { { "Content-Range", "bytes 100-299/*" }, { "ETag", "\"v1\"" } } << qint64(-1) << longer;
    // Where the first answer announced no length, the catalogue's size stands in for it.
    QTest::newRow("catalogue's size")
        << unannounced << QByteArray("\"v1\"") << Headers { { "Content-Range", range }, { "ETag", "\"v1\"" } }
        << qint64(300) << QString();
    QTest::newRow("other than catalogue's size")
        << unannounced << QByteArray("\"v1\"")
        << Headers { { "Content-Range", "bytes 100-309/310" }, { "ETag", "\"v1\"" } } << qint64(300)
        << longer;
    QTest::newRow("announced length before the catalogue's")
        << etag << QByteArray("\"v1\"") << Headers { { "Content-Range", range }, { "ETag", "\"v1\"" } }
        << qint64(310) << QString();
    QTest::newRow("no length known anywhere")
        << unannounced << QByteArray("\"v1\"")
        << Headers { { "Content-Range", "bytes 100-299/*" }, { "ETag", "\"v1\"" } } << qint64(-1)
        << QString();
    // After a redirect the length of the answer that carried the body comes last.
    QTest::newRow("redirect's length kept beside the body's")
        << Headers { { "ETag", "\"v1\"" }, { "Content-Length", "5, 300" } } << QByteArray("\"v1\"")
        << Headers { { "Content-Range", range }, { "ETag", "\"v1\"" } } << qint64(-1) << QString();
}

void tst_ResumeValidator::continuesHeldFile()
{
    QFETCH(Headers, whole);
    QFETCH(QByteArray, ifRange);
    QFETCH(Headers, resumed);
    QFETCH(qint64, expectedSize);
    QFETCH(QString, reason);

    ResumeValidator validator;
    const ScriptedReply first(whole);
    validator.remember(&first);
    QCOMPARE(validator.ifRange(), ifRange);

    const ScriptedReply partial(resumed);
    QString why;
    QCOMPARE(validator.continuesHeldFile(&partial, 100, expectedSize, &why), reason.isEmpty());
    QCOMPARE(why, reason);

    // Forgotten, it identifies nothing: a cut download then starts over.
    validator.clear();
    QVERIFY(validator.isEmpty());
}

PELK_TEST_MAIN(tst_ResumeValidator, PelkPlus::ConsoleTest)

#include "tst_ResumeValidator.moc"
