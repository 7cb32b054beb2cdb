#include "ui/UpdateReport.h"

#include "support/TestEnvironment.h"
#include "ui/MessageBox.h"
#include "workflow/InstallSummary.h"
#include "workflow/UpdateWorkflow.h"
#include "support/TestMain.h"

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
    void endOfUpdate_data();
    void endOfUpdate();
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
    const InstallSummary::Installed verified { ComponentType::Styles, "0x11", "0x12", true, "0x12" };
    QList<InstallSummary::Installed> installed;
    while (installed.size() < components)
        installed.append(verified);
    QCOMPARE(InstallSummary::completionText(installed), text);
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
    // Every end but a good one leaves what was not installed, and why, on the list.
    QTest::newRow("lost while restarting") << (toReboot + Phases { WorkflowPhase::NoDevice })
                                           << UpdateOutcome::Failed << int(MessageMode::Warning) << false;
    QTest::newRow("download failed") << Phases { WorkflowPhase::Updating, WorkflowPhase::NextComponent,
        WorkflowPhase::Downloading, WorkflowPhase::Checking, WorkflowPhase::Planned }
                                     << UpdateOutcome::Failed << int(MessageMode::Warning) << false;
    QTest::newRow("not applied") << (toReboot + Phases { WorkflowPhase::NextComponent })
                                 << UpdateOutcome::NotApplied << int(MessageMode::Warning) << false;
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
        QCOMPARE(text, workflow.installSummary().completionText());
    else
        QCOMPARE(text, UpdateReport::failureText(workflow));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_UpdateReport, PelkPlus::ConsoleTest)

#include "tst_UpdateReport.moc"
