#pragma once

#include <QPixmap>
#include <QWidget>

class QLabel;

namespace PelkPlus {

class DeviceStatusView;
class UpdateWorkflow;

// The black panel on the window's left: both model logos until the device is known, then its own
// logo and description, and the maker's logo at its foot. It follows the device in a region of its
// own in the workflow's state machine.
class DevicePanel : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(DevicePanel)

public:
    explicit DevicePanel(UpdateWorkflow* engine, QWidget* parent = nullptr);
    ~DevicePanel() override;

    // Adds the panel's region to the workflow's machine; called once, before the workflow starts.
    void addRegion();

private:
    void showDevice();

    UpdateWorkflow* workflow = nullptr;
    QLabel* baseLogo = nullptr;
    QLabel* plusLogo = nullptr;
    QLabel* makerLogo = nullptr;
    DeviceStatusView* deviceStatusView = nullptr;
    QPixmap baseLogoPixmap;
    QPixmap plusLogoPixmap;
};

} // namespace PelkPlus
