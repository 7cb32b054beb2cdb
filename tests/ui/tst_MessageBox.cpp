#include "ui/MessageBox.h"

#include "support/TestEnvironment.h"
#include "support/WindowHarness.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QtTest>

namespace PelkPlus {

class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typeNameAndProperties();
    void initialState();
    void modeLook_data();
    void modeLook();
    void hidingKeepsTextAndPalette();
    void textKeepsModeAndVisibility();
    void showOperations();
    void clearThenTextStaysHidden();
    void labelLayout();

private:
    QLabel* label() const { return box->findChild<QLabel*>(); }
    QColor background() const { return box->palette().color(QPalette::Window); }

    // Boxes live in a shown parent, as in the window, so that visibility means something.
    QWidget* parent = nullptr;
    MessageBox* box = nullptr;
};

void TestMessageBox::init()
{
    parent = new QWidget;
    auto* layout = new QVBoxLayout(parent);
    box = new MessageBox;
    layout->addWidget(box);
    parent->show();
}

void TestMessageBox::cleanup()
{
    delete parent;
    parent = nullptr;
    box = nullptr;
}

void TestMessageBox::typeNameAndProperties()
{
    const QMetaObject* meta = box->metaObject();
    QCOMPARE(meta->className(), "PelkPlus::MessageBox");
    const int first = meta->propertyOffset();
    QCOMPARE(meta->propertyCount() - first, 2);
    QCOMPARE(meta->property(first).name(), "mode");
    QCOMPARE(meta->property(first).type(), QVariant::Int);
    QCOMPARE(meta->property(first + 1).name(), "text");
    QCOMPARE(meta->property(first + 1).type(), QVariant::String);
}

void TestMessageBox::initialState()
{
    QCOMPARE(box->property("mode").toInt(), 0);
    QVERIFY(box->property("text").toString().isEmpty());
    // Never given a mode: visible, showing nothing while its text is empty.
    QVERIFY(box->isVisible());
    QVERIFY(!label()->autoFillBackground());
}

void TestMessageBox::modeLook_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QColor>("color");
    // What a screen reader says in place of the colour.
    QTest::addColumn<QString>("kind");

    QTest::newRow("hidden") << 0 << false << QColor() << QString();
    QTest::newRow("information") << 1 << true << QColor(200, 230, 255, 230) << "Information";
    QTest::newRow("warning") << 2 << true << QColor(255, 225, 120, 230) << "Warning";
    QTest::newRow("error") << 3 << true << QColor(255, 180, 180, 230) << "Error";
    QTest::newRow("out of range above") << 4 << false << QColor() << QString();
    QTest::newRow("negative") << -1 << false << QColor() << QString();
}

void TestMessageBox::modeLook()
{
    QFETCH(int, mode);
    QFETCH(bool, visible);
    QFETCH(QColor, color);
    QFETCH(QString, kind);

    box->setProperty("text", QStringLiteral("Checking for latest updates..."));
    QVERIFY(box->setProperty("mode", mode));
    QCOMPARE(box->accessibleName(), QStringLiteral("Checking for latest updates..."));
    QCOMPARE(box->accessibleDescription(), kind);
    QCOMPARE(MessageBox::modeName(mode), kind);
    // A new text keeps the kind; clearing leaves nothing to read.
    box->setText(QStringLiteral("Done."));
    QCOMPARE(box->accessibleName(), QStringLiteral("Done."));
    QCOMPARE(box->accessibleDescription(), kind);
    box->setText(QStringLiteral("Checking for latest updates..."));

    // The value is kept as given, even where it behaves as hidden.
    QCOMPARE(box->property("mode").toInt(), mode);
    QCOMPARE(box->isVisible(), visible);
    QCOMPARE(label()->autoFillBackground(), visible);
    if (visible) {
        for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
            QCOMPARE(box->palette().brush(group, QPalette::Window).color(), color);
            QCOMPARE(box->palette().brush(group, QPalette::Window).style(), Qt::SolidPattern);
        }
        // The label paints the box's colour behind the text.
        QCOMPARE(label()->palette().color(QPalette::Window), color);
    }
    QCOMPARE(box->property("text").toString(), QStringLiteral("Checking for latest updates..."));
}

void TestMessageBox::hidingKeepsTextAndPalette()
{
    box->setProperty("text", QStringLiteral("Please do NOT disconnect or power down the device!"));
    box->setProperty("mode", 2);
    QVERIFY(box->isVisible());
    QCOMPARE(background(), QColor(255, 225, 120, 230));

    box->setProperty("mode", 0);
    QVERIFY(!box->isVisible());
    QCOMPARE(box->property("text").toString(),
        QStringLiteral("Please do NOT disconnect or power down the device!"));
    // Hiding leaves the palette as it was.
    QCOMPARE(background(), QColor(255, 225, 120, 230));

    box->setProperty("mode", 1);
    QVERIFY(box->isVisible());
    QCOMPARE(background(), QColor(200, 230, 255, 230));
    QCOMPARE(label()->text(), QStringLiteral("Please do NOT disconnect or power down the device!"));
}

void TestMessageBox::textKeepsModeAndVisibility()
{
    box->setProperty("mode", 3);
    box->setProperty("text", QStringLiteral("first"));
    QCOMPARE(box->property("mode").toInt(), 3);
    QVERIFY(box->isVisible());

    box->setProperty("mode", 0);
    box->setProperty("text", QStringLiteral("second"));
    QCOMPARE(box->property("mode").toInt(), 0);
    QVERIFY(!box->isVisible());
}

void TestMessageBox::showOperations()
{
    box->clear();
    box->showInformation(QStringLiteral("Your device is up to date."));
    QCOMPARE(box->property("mode").toInt(), 1);
    QCOMPARE(box->property("text").toString(), QStringLiteral("Your device is up to date."));
    QVERIFY(box->isVisible());
    QCOMPARE(background(), QColor(200, 230, 255, 230));

    box->showWarning(QStringLiteral("Waiting for the device to enter update mode..."));
    QCOMPARE(box->property("mode").toInt(), 2);
    QCOMPARE(
        box->property("text").toString(), QStringLiteral("Waiting for the device to enter update mode..."));
    QVERIFY(box->isVisible());
    QCOMPARE(background(), QColor(255, 225, 120, 230));
}

void TestMessageBox::clearThenTextStaysHidden()
{
    box->showWarning(QStringLiteral("warning"));
    box->clear();
    QCOMPARE(box->property("mode").toInt(), 0);
    QVERIFY(box->property("text").toString().isEmpty());
    QVERIFY(!box->isVisible());
    QVERIFY(!label()->autoFillBackground());

    box->setProperty("text", QStringLiteral("later text"));
    QVERIFY(!box->isVisible());
    QCOMPARE(box->property("mode").toInt(), 0);
}

void TestMessageBox::labelLayout()
{
    QVERIFY(label()->wordWrap());
    QCOMPARE(label()->margin(), 10);
    auto* layout = qobject_cast<QVBoxLayout*>(box->layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 1);
    QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
}

} // namespace PelkPlus

PELK_TEST_MAIN(PelkPlus::TestMessageBox, PelkPlus::WidgetTest)

#include "tst_MessageBox.moc"
