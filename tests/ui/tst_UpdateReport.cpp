#include "ui/UpdateReport.h"

#include "support/TestEnvironment.h"
#include "ui/MessageBox.h"
#include "workflow/UpdateWorkflow.h"

#include <QSignalSpy>
#include <QtTest>

namespace PelkPlus {

using Phases = QList<WorkflowPhase>;

class tst_UpdateReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<UpdateOutcome>();
        qRegisterMetaType<WorkflowPhase>();
    }
    void completionText_data();
    void completionText();
    void downloadFailureText_data();
    void downloadFailureText();
    void endOfUpdate_data();
    void endOfUpdate();
    void reasonOnlyForTheDownloadFailure();
};

void tst_UpdateReport::completionText_data()
{
    QTest::addColumn<int>("components");
    QTest::addColumn<QString>("text");
    QTest::newRow("one") << 1 << "Update complete: 1 component installed and verified.";
    QTest::newRow("two") << 2 << "Update complete: 2 components installed and verified.";
    QTest::newRow("four") << 4 << "Update complete: 4 components installed and verified.";
}

void tst_UpdateReport::completionText()
{
    QFETCH(int, components);
    QFETCH(QString, text);
    QCOMPARE(UpdateReport::completionText(components), text);
}

void tst_UpdateReport::downloadFailureText_data()
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

void tst_UpdateReport::downloadFailureText()
{
    QFETCH(int, kind);
    QFETCH(QString, reason);
    QCOMPARE(UpdateReport::downloadReasonText(DownloadFailure(kind)), reason);
    // The fixed text first, then the reason, then what it means for the device.
    const QString expected = QStringLiteral("Failed to download updates.")
        + (reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason)
        + QStringLiteral("\n\nNothing was sent to the device.");
    QCOMPARE(UpdateReport::downloadFailureText(
                 QStringLiteral("Failed to download updates."), DownloadFailure(kind)),
        expected);
}

void tst_UpdateReport::endOfUpdate_data()
{
    QTest::addColumn<Phases>("phases");
    QTest::addColumn<UpdateOutcome>("outcome");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("interrupted");

    const Phases toTransfer = { WorkflowPhase::Updating, WorkflowPhase::NextComponent,
        WorkflowPhase::Downloading, WorkflowPhase::AwaitingUpdateMode, WorkflowPhase::Installing };
    const Phases toReboot
        = toTransfer + Phases { WorkflowPhase::AwaitingFinish, WorkflowPhase::AwaitingReboot };
    QTest::newRow("done") << (toReboot + Phases { WorkflowPhase::NextComponent, WorkflowPhase::Checking })
                          << UpdateOutcome::Done << int(MessageMode::Information) << false;
    // The plan made again after the failed transfer is not a step of the update.
    QTest::newRow("lost while sending")
        << (toTransfer + Phases { WorkflowPhase::Checking, WorkflowPhase::Planned, WorkflowPhase::NoDevice })
        << UpdateOutcome::Failed << int(MessageMode::Warning) << true;
    QTest::newRow("stopped while sending")
        << toTransfer << UpdateOutcome::Stopped << int(MessageMode::Warning) << true;
    QTest::newRow("lost while restarting") << (toReboot + Phases { WorkflowPhase::NoDevice })
                                           << UpdateOutcome::Failed << int(MessageMode::Hidden) << false;
    QTest::newRow("download failed") << Phases { WorkflowPhase::Updating, WorkflowPhase::NextComponent,
        WorkflowPhase::Downloading, WorkflowPhase::Checking, WorkflowPhase::Planned }
                                     << UpdateOutcome::Failed << int(MessageMode::Hidden) << false;
    QTest::newRow("not applied") << (toReboot + Phases { WorkflowPhase::NextComponent })
                                 << UpdateOutcome::NotApplied << int(MessageMode::Hidden) << false;
}

void tst_UpdateReport::endOfUpdate()
{
    QFETCH(Phases, phases);
    QFETCH(UpdateOutcome, outcome);
    QFETCH(int, mode);
    QFETCH(bool, interrupted);

    UpdateWorkflow workflow;
    UpdateReport report(&workflow);
    QSignalSpy ended(&report, &UpdateReport::ended);
    // An earlier update that ended while sending is not this one's.
    for (const WorkflowPhase phase : { WorkflowPhase::Updating, WorkflowPhase::Installing })
        emit workflow.phaseChanged(phase);
    emit workflow.updateEnded(UpdateOutcome::Failed);
    ended.clear();

    for (const WorkflowPhase phase : phases)
        emit workflow.phaseChanged(phase);
    emit workflow.updateEnded(outcome);

    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).value<UpdateOutcome>(), outcome);
    QCOMPARE(ended.first().at(1).toInt(), mode);
    QCOMPARE(report.transferInterrupted(), interrupted);
    const QString text = ended.first().at(2).toString();
    if (outcome == UpdateOutcome::Done)
        QCOMPARE(text, UpdateReport::completionText(report.componentCount()));
    else
        QCOMPARE(text, interrupted ? UpdateReport::interruptedText() : QString());
}

void tst_UpdateReport::reasonOnlyForTheDownloadFailure()
{
    UpdateWorkflow workflow;
    UpdateReport report(&workflow);
    const QString fixed = QStringLiteral("Failed to download updates.");
    QCOMPARE(report.messageText(MessageKind::Critical, fixed), fixed);

    emit workflow.downloadFailure();
    // Only the critical message that follows the failure is the failure's.
    QCOMPARE(report.messageText(MessageKind::Information, fixed), fixed);
    QCOMPARE(report.messageText(MessageKind::Critical, fixed),
        UpdateReport::downloadFailureText(fixed, workflow.lastDownloadFailure()));
    QCOMPARE(report.messageText(MessageKind::Critical, fixed), fixed);

    // Once the workflow has moved on, a later message is not the failure's.
    emit workflow.downloadFailure();
    emit workflow.phaseChanged(WorkflowPhase::Checking);
    QCOMPARE(report.messageText(MessageKind::Critical, fixed), fixed);
}

} // namespace PelkPlus

int main(int argc, char** argv)
{
    PelkPlus::TestEnvironment environment;
    QCoreApplication application(argc, argv);
    PelkPlus::tst_UpdateReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_UpdateReport.moc"
