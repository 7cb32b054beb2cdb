#include "app/CharacterLocale.h"
#include "support/TestMain.h"

#include <QtTest>

#include <clocale>
#include <cstdlib>
#include <string>

using namespace PelkPlus;

namespace {

std::string category(int which)
{
    const char* name = std::setlocale(which, nullptr);
    return name ? name : "";
}

// What hidapi does with a USB string: the C library's multibyte conversion in the process locale.
QString convertedAsHidapiDoes(const QByteArray& utf8)
{
    wchar_t wide[64] = {};
    const size_t converted = std::mbstowcs(wide, utf8.constData(), 63);
    if (converted == size_t(-1))
        return QString();
    return QString::fromWCharArray(wide, int(converted));
}

} // namespace

class tst_CharacterLocale : public QObject
{
    Q_OBJECT

private slots:
    void serialNumbersSurviveEveryLocale_data();
    void serialNumbersSurviveEveryLocale();
};

void tst_CharacterLocale::serialNumbersSurviveEveryLocale_data()
{
    QTest::addColumn<QByteArray>("environment"); // LC_ALL as a service or cron job may have it
    QTest::newRow("C") << QByteArray("C");
    QTest::newRow("POSIX") << QByteArray("POSIX");
    QTest::newRow("unset") << QByteArray();
    QTest::newRow("not installed") << QByteArray("xx_YY.ISO-8859-1");
    QTest::newRow("already UTF-8") << QByteArray("C.UTF-8");
}

void tst_CharacterLocale::serialNumbersSurviveEveryLocale()
{
    QFETCH(QByteArray, environment);
    const QByteArray savedAll = qgetenv("LC_ALL");
    const QByteArray savedLang = qgetenv("LANG");
    qunsetenv("LANG");
    if (environment.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", environment);
    // The application object sets the whole locale from the environment first.
    std::setlocale(LC_ALL, "");
    const std::string messages = category(LC_MESSAGES);
    const std::string numeric = category(LC_NUMERIC);
    const std::string time = category(LC_TIME);
    const std::string collate = category(LC_COLLATE);

    QVERIFY(CharacterLocale::makeUtf8Capable());
    QVERIFY(CharacterLocale::isUtf8());
    const QString serial = QStringLiteral("PK-\u00e9\u00df\u20ac-7");
    QCOMPARE(convertedAsHidapiDoes(serial.toUtf8()), serial);
    // Nothing the user reads changes: messages, numbers, dates and sorting keep their locale.
    QCOMPARE(category(LC_MESSAGES), messages);
    QCOMPARE(category(LC_NUMERIC), numeric);
    QCOMPARE(category(LC_TIME), time);
    QCOMPARE(category(LC_COLLATE), collate);

    qputenv("LC_ALL", savedAll);
    qputenv("LANG", savedLang);
    std::setlocale(LC_ALL, "C");
}

PELK_TEST_MAIN(tst_CharacterLocale, PelkPlus::ConsoleTest)

#include "tst_CharacterLocale.moc"
