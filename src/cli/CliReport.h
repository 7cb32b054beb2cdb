#pragma once

#include "cli/CliOptions.h"
#include "device/Connection.h"
#include "update/ComponentType.h"
#include "workflow/InstallSummary.h"

#include <QList>
#include <QString>

#include <optional>

namespace PelkPlus {

class CliOutput;
class UpdateWorkflow;

// The answers of the check, update and install commands, for a person and as JSON: the plan a
// check made, and how an update ended (what the device came back with, and what it did not take),
// from the workflow's own summary of the update.
class CliReport
{
public:
    // Nothing can be installed over USB, but the catalogue has an MCU update that this device's
    // firmware cannot take over USB.
    static constexpr int serviceUpdateExitCode = 5;
    static QString serviceUpdateText();
    // Not begun: the catalogue is not signed by a trusted key, and --allow-unsigned was not given.
    static constexpr int unsignedCatalogueExitCode = 6;
    static QString unsignedRefusalText();

    CliReport(CliOptions::Command command, CliOutput* output, UpdateWorkflow* workflow);

    // The plan the check made for device. The exit code when the command ends with it (a check,
    // nothing to install, only a service update, or an unsigned catalogue without consent), none
    // when the update is to go on.
    std::optional<int> reportPlan(const Connection& device);
    // How the update of device ended; the command's exit code.
    int reportResult(const Connection& device);

private:
    CliOptions::Command command;
    CliOutput* cliOutput;
    UpdateWorkflow* workflow;
};

} // namespace PelkPlus
