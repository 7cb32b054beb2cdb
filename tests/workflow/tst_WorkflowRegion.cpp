#include "update/UpdateManager.h"
#include "workflow/WorkflowRegion.h"

#include <QtTest>

namespace PelkPlus {

// The text of a failed check for the device's updates: by its reason, with the reason's detail.
class tst_WorkflowRegion : public QObject
{
    Q_OBJECT

private slots:
    void checkFailureText_data();
    void checkFailureText();
};

void tst_WorkflowRegion::checkFailureText_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("text");

    QTest::newRow("unverified") << int(UpdateManager::UnverifiedCatalogue) << "bad signature"
                                << "The update catalogue could not be verified, so no updates are offered. "
                                   "Nothing was sent to the device.\n\nbad signature";
    QTest::newRow("refused") << int(UpdateManager::RefusedCatalogue) << "too old"
                             << "The update catalogue was refused, so no updates are offered. Nothing was "
                                "sent to the device.\n\ntoo old";
    QTest::newRow("not a catalogue") << int(UpdateManager::NotACatalogue) << "Not a catalogue."
                                     << "Not a catalogue.";
    QTest::newRow("network, with reason") << 0 << "Connection refused"
                                          << "Failed to check for updates!\n\nConnection refused";
    QTest::newRow("network, no reason") << 0 << ""
                                        << "Failed to check for updates!";
}

void tst_WorkflowRegion::checkFailureText()
{
    QFETCH(int, reason);
    QFETCH(QString, detail);
    QFETCH(QString, text);
    QCOMPARE(WorkflowRegion::checkFailureText(reason, detail), text);
}

} // namespace PelkPlus

QTEST_GUILESS_MAIN(PelkPlus::tst_WorkflowRegion)
#include "tst_WorkflowRegion.moc"
