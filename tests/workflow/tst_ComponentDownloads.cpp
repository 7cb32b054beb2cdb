#include "update/Component.h"
#include "update/DownloadAgent.h"
#include "workflow/ComponentDownloads.h"
#include "workflow/WorkflowPlan.h"
#include "support/TestMain.h"

#include <QtTest>

namespace PelkPlus {

// The files of a batch: one per entry still to be downloaded, named after its type, never two
// entries into one file.
class tst_ComponentDownloads : public QObject
{
    Q_OBJECT

private slots:
    void batchFileNames_data();
    void batchFileNames();
    void downloadCurrent_data();
    void downloadCurrent();
};

void tst_ComponentDownloads::batchFileNames_data()
{
    QTest::addColumn<QStringList>("entries"); // "MCU", "DSP"; "local:" for a file already at hand
    QTest::addColumn<QStringList>("files");   // "index=name"

    QTest::newRow("one of each") << QStringList { "MCU", "DSP" }
                                 << QStringList { "0=MCU Firmware", "1=DSP Firmware" };
    QTest::newRow("two of one type") << QStringList { "DSP", "DSP",
        "DSP" } << QStringList { "0=DSP Firmware", "1=DSP Firmware (2)", "2=DSP Firmware (3)" };
    QTest::newRow("a file at hand is not fetched")
        << QStringList { "local:MCU", "MCU" } << QStringList { "1=MCU Firmware" };
    QTest::newRow("nothing to fetch") << QStringList { "local:DSP" } << QStringList();
}

void tst_ComponentDownloads::batchFileNames()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, files);

    QList<Component> components;
    for (const QString& entry : entries) {
        Component component;
        component.type
            = entry.endsWith(QLatin1String("MCU")) ? ComponentType::McuFirmware : ComponentType::DspFirmware;
        if (entry.startsWith(QLatin1String("local:")))
            component.localPath = QStringLiteral("/tmp/chosen");
        components.append(component);
    }
    QStringList named;
    for (const auto& file : ComponentDownloads::batchFileNames(components))
        named.append(QStringLiteral("%1=%2").arg(file.first).arg(file.second));
    QCOMPARE(named, files);
}

void tst_ComponentDownloads::downloadCurrent_data()
{
    QTest::addColumn<bool>("planned");
    QTest::newRow("a file at hand is not fetched") << true;
    QTest::newRow("nothing planned") << false;
}

// Alone, on an agent of its own: the current component's file at hand is skipped, as its signals say.
void tst_ComponentDownloads::downloadCurrent()
{
    QFETCH(bool, planned);
    DownloadAgent agent;
    WorkflowPlan plan;
    Component component;
    component.localPath = QStringLiteral("/tmp/chosen");
    plan.setSingle(component);
    QVERIFY(!planned || plan.advance());
    ComponentDownloads downloads(&agent, plan);
    QSignalSpy skipped(&downloads, &ComponentDownloads::componentDownloadSkipped);
    QSignalSpy progress(&downloads, &ComponentDownloads::downloadProgressChanged);
    downloads.downloadCurrent();
    QCOMPARE(skipped.count(), int(planned));
    QCOMPARE(progress.count() ? progress.first().first().toInt() : -1, planned ? 100 : -1);
    const Component* failed = planned ? plan.currentEntry() : nullptr;
    QCOMPARE(downloads.failedComponent(), failed);
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::tst_ComponentDownloads, PelkPlus::ConsoleTest)
#include "tst_ComponentDownloads.moc"
