#include "workflow/AppUpdateCheck.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// Which of the catalogue's updater packages is offered: the first of this platform's type that is
// newer than the running version.
class tst_AppUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void newerPackage_data();
    void newerPackage();
    void answer_data();
    void answer();
};

void tst_AppUpdateCheck::newerPackage_data()
{
    QTest::addColumn<QStringList>("packages"); // "Win|2.1.0" or "Mac|2.1.0"
    QTest::addColumn<int>("platform");         // -1: no package type for this platform
    QTest::addColumn<QString>("offered");

    const int win = int(ComponentType::WindowsApplication);
    QTest::newRow("newer") << QStringList { "Win|2.1.0" } << win << "2.1.0";
    QTest::newRow("same") << QStringList { "Win|2.0.2" } << win << "";
    QTest::newRow("older") << QStringList { "Win|1.9.9" } << win << "";
    QTest::newRow("other platform's") << QStringList { "Mac|9.0.0" } << win << "";
    QTest::newRow("no type for this platform") << QStringList { "Win|9.0.0" } << -1 << "";
    QTest::newRow("unparsable skipped") << QStringList { "Win|soon", "Win|3.0.0" } << win << "3.0.0";
    QTest::newRow("first newer wins") << QStringList { "Win|2.5.0", "Win|3.0.0" } << win << "2.5.0";
}

void tst_AppUpdateCheck::newerPackage()
{
    QFETCH(QStringList, packages);
    QFETCH(int, platform);
    QFETCH(QString, offered);

    QList<Component> components;
    for (const QString& row : packages) {
        Component component;
        component.type = row.startsWith(QLatin1String("Win")) ? ComponentType::WindowsApplication
                                                              : ComponentType::MacApplication;
        component.version = row.section(QLatin1Char('|'), 1);
        components.append(component);
    }
    const std::optional<ComponentType> type
        = platform < 0 ? std::nullopt : std::optional<ComponentType>(ComponentType(platform));
    const std::optional<Component> newer
        = AppUpdateCheck::newerPackage(components, SemanticVersion(QStringLiteral("2.0.2")), type);
    QCOMPARE(newer ? newer->version : QString(), offered);
}

void tst_AppUpdateCheck::answer_data()
{
    QTest::addColumn<bool>("accepted");
    QTest::newRow("taken") << true;
    QTest::newRow("declined") << false;
}

// Alone, with no manager to check: the answer to an offer comes out of the check's own signals.
void tst_AppUpdateCheck::answer()
{
    QFETCH(bool, accepted);
    AppUpdateCheck check(nullptr);
    QSignalSpy confirmed(&check, &AppUpdateCheck::appUpdatesConfirmed);
    QSignalSpy rejected(&check, &AppUpdateCheck::appUpdatesRejected);
    check.answer(accepted);
    QCOMPARE(confirmed.count(), int(accepted));
    QCOMPARE(rejected.count(), int(!accepted));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_AppUpdateCheck, PelkPlus::ConsoleTest)
#include "tst_AppUpdateCheck.moc"
