#pragma once

#include <QMenu>

class QActionGroup;

namespace PelkPlus {

class UpdateWorkflow;

// The Advanced menu: installing a component from a file, listing every component of the catalogue
// for reinstalling, and the catalogue's URL. The installs are open only while a device is ready
// and nothing runs.
class AdvancedMenu : public QMenu
{
    Q_OBJECT
    Q_DISABLE_COPY(AdvancedMenu)

public:
    explicit AdvancedMenu(UpdateWorkflow* engine, QWidget* parent = nullptr);
    ~AdvancedMenu() override;

    // Hangs the install actions on the workflow's states; called once, before the workflow starts.
    void followStates();

private:
    UpdateWorkflow* workflow = nullptr;
    QActionGroup* installActions = nullptr;
};

} // namespace PelkPlus
