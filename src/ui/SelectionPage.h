#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace PelkPlus {

class MessageBox;
class UpdateWorkflow;

// The page of the update list: the check for updates, the plan's warnings, its heading and
// components, and the button that starts the update. Above them, how the last update ended.
class SelectionPage : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(SelectionPage)

public:
    explicit SelectionPage(UpdateWorkflow* engine, QWidget* parent = nullptr);
    ~SelectionPage() override;

    // Hangs the page's widgets on the workflow's states; called once, before the workflow starts.
    void followStates();
    // Shows how the last update ended until the next check or update begins.
    void showResult(int mode, const QString& text);
    // Offers, under the result box that tells of it, to finish the device's update that stopped
    // before its end from the files kept on this computer, or to drop it; until one is chosen, an
    // update begins or the device is lost.
    void offerStoppedUpdate();

private:
    void refreshUpdateList();
    // The one-line note under the list naming the other devices of the family on USB, which the
    // window does not use, and how to switch to one.
    void refreshOtherDevices();
    void createStoppedOffer();
    void endStoppedOffer();

    UpdateWorkflow* workflow = nullptr;
    QPushButton* checkUpdatesButton = nullptr;
    // Shown while the catalogue is being fetched: a server that never answers is not waited for.
    QPushButton* cancelCheckButton = nullptr;
    MessageBox* resultBox = nullptr;
    // Finish and Drop, under the result box while a stopped update is offered.
    QWidget* stoppedOffer = nullptr;
    MessageBox* warningsBox = nullptr;
    MessageBox* updatesHeading = nullptr;
    // Under the heading: says when the catalogue of the plan was not verified.
    QLabel* catalogueNote = nullptr;
    // Under the list: how long installing it takes.
    QLabel* estimateLabel = nullptr;
    QListWidget* componentList = nullptr;
    QLabel* otherDevicesNote = nullptr;
    QPushButton* startUpdateButton = nullptr;
};

} // namespace PelkPlus
