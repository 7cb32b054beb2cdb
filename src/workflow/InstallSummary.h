#pragma once

#include "update/ComponentType.h"
#include "workflow/UpdateFailure.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace PelkPlus {

// What an update did to the device, from what the device reported after each component, and the
// one sentence every face says about it: the count installed and verified, the components whose
// version could not be compared, a device that still reports the version it had, and, after a
// failure, what was not installed and why.
class InstallSummary
{
public:
    // A component the device came back with.
    struct Installed
    {
        ComponentType type = ComponentType::McuFirmware;
        // As the user reads them ("Production 1.2"); sent is empty for a file of unknown version.
        QString before;
        QString sent;
        // The device reports the version sent.
        bool confirmed = false;
        // What the device reports after its restart.
        QString reported;
    };

    // A new update of these components begins: nothing of the last one is kept.
    void begin(const QList<ComponentType>& planned);
    void add(const Installed& component);
    void addNotApplied(ComponentType type);

    const QList<Installed>& installed() const { return taken; }
    // The components the device came back without, in the order they were sent.
    const QList<ComponentType>& notApplied() const { return refused; }
    // The names of the planned components the device did not come back with, in plan order.
    QStringList notInstalled() const;

    // "Update complete: 2 components installed, 1 verified (no version known for: MCU Firmware)."
    QString completionText() const { return completionText(taken); }
    static QString completionText(const QList<Installed>& components);
    // "Not installed: Styles, Ensemble Audio. The device was disconnected ..." with the failure's
    // cause and next step; the cause alone when every component was installed.
    static QString failureText(const QStringList& notInstalled, UpdateFailure failure);
    // The same without the next step, once it has been taken: the device is back and what is left
    // is planned again.
    static QString backText(const QStringList& notInstalled, UpdateFailure failure);

private:
    QList<ComponentType> planned;
    QList<Installed> taken;
    QList<ComponentType> refused;
};

} // namespace PelkPlus
