#include "device/DeviceMonitor.h"
#include "update/DownloadAgent.h"
#include "update/UpdateManager.h"
#include "workflow/ComponentDownloads.h"
#include "workflow/DeviceSelection.h"
#include "workflow/InstallAttemptRecorder.h"
#include "workflow/PlanExecution.h"
#include "workflow/WorkflowPlan.h"
#include "workflow/WorkflowRegion.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// The text of a failed check for the device's updates: by its reason, with the reason's detail.
class tst_WorkflowRegion : public QObject
{
    Q_OBJECT

private slots:
    void checkFailureText_data();
    void checkFailureText();
    void downloadFailureText_data();
    void downloadFailureText();
    void startsWithoutDevice();
};

void tst_WorkflowRegion::checkFailureText_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("text");

    QTest::newRow("unverified") << int(UpdateManager::UnverifiedCatalogue) << "bad signature"
                                << ""
                                << "The update catalogue could not be verified, so no updates are offered. "
                                   "Nothing was sent to the device.\n\nbad signature";
    QTest::newRow("refused") << int(UpdateManager::RefusedCatalogue) << "too old"
                             << ""
                             << "The update catalogue was refused, so no updates are offered. Nothing was "
                                "sent to the device.\n\ntoo old";
    QTest::newRow("not a catalogue") << int(UpdateManager::NotACatalogue) << "Not a catalogue."
                                     << ""
                                     << "Not a catalogue.";
    // The fixed text, the reason, and what to try, with the server that could not be reached.
    QTest::newRow("network, with reason")
        << 0 << "Connection refused"
        << "updates.example.com:443"
        << "Failed to check for updates!\n\nConnection refused\n\nCheck that this computer is online and can "
           "reach updates.example.com:443, then check for updates again.";
    // Reached, but the address is wrong: "can reach" would send the user to the network.
    QTest::newRow("not found")
        << 0 << "HTTP 404 Not Found"
        << "127.0.0.1:8765"
        << "Failed to check for updates!\n\nHTTP 404 Not Found\n\n127.0.0.1:8765 answered, but has no update "
           "catalogue at that address. Check the catalogue's address (manifest-url in the settings), then "
           "check "
           "for updates again.";
    QTest::newRow("network, no reason") << 0 << ""
                                        << ""
                                        << "Failed to check for updates!\n\nCheck that this computer is "
                                           "online, then check for updates again.";
}

void tst_WorkflowRegion::checkFailureText()
{
    QFETCH(int, reason);
    QFETCH(QString, detail);
    QFETCH(QString, server);
    QFETCH(QString, text);
    QCOMPARE(WorkflowRegion::checkFailureText(reason, detail, server), text);
}

void tst_WorkflowRegion::downloadFailureText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no kind known") << int(DownloadFailure::None) << QString();
    QTest::newRow("file") << int(DownloadFailure::FileError)
                          << "The downloaded file could not be written on this computer.";
    QTest::newRow("refused") << int(DownloadFailure::Refused)
                             << "The download was refused: the address is not an http or https address, or "
                                "the server did not say how large the file is.";
    QTest::newRow("network") << int(DownloadFailure::Network)
                             << "The server could not be reached, or the connection was lost, and trying "
                                "again did not help.";
    QTest::newRow("server") << int(DownloadFailure::Server) << "The server answered with an error.";
    QTest::newRow("size") << int(DownloadFailure::Size)
                          << "The file does not have the size the catalogue gives.";
    QTest::newRow("digest") << int(DownloadFailure::Digest)
                            << "The file is not the one the catalogue describes.";
}

void tst_WorkflowRegion::downloadFailureText()
{
    QFETCH(int, kind);
    QFETCH(QString, reason);
    // The fixed text first, then the reason, then what it means for the device and what to try.
    QCOMPARE(WorkflowRegion::downloadFailureText(DownloadFailure(kind)),
        QStringLiteral("Failed to download updates.")
            + (reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason)
            + QStringLiteral("\n\nNothing was sent to the device. Check that this computer is online and has "
                             "room for the files, then start the update again."));
}

// Alone, beside a device region on collaborators of its own: the machine begins by asking for a
// device.
void tst_WorkflowRegion::startsWithoutDevice()
{
    DeviceMonitor monitor;
    UpdateManager manager;
    DownloadAgent agent;
    WorkflowPlan plan;
    InstallAttemptRecorder recorder;
    DeviceSelection selection(&monitor);
    PlanExecution execution(plan, selection, recorder);
    ComponentDownloads downloads(&agent, plan);
    WorkflowRegion region({ plan, selection, execution, downloads, &monitor, &manager, &agent });
    QStateMachine machine;
    auto* regions = new QState(QState::ParallelStates, &machine);
    machine.setInitialState(regions);
    selection.buildRegion(regions);
    region.build(regions);
    QList<WorkflowPhase> phases;
    region.connectPhases([&phases](WorkflowPhase phase) { phases.append(phase); });
    machine.start();
    QTRY_VERIFY(phases == QList<WorkflowPhase> { WorkflowPhase::NoDevice });
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_WorkflowRegion, PelkPlus::ConsoleTest)
#include "tst_WorkflowRegion.moc"
