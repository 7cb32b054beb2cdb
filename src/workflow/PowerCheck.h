#pragma once

#include <QString>

namespace PelkPlus {

class PowerStatus;
class UpdateEstimate;
class WorkflowQuestions;

// Asks before an update on a computer that may not last it: on battery, low and not charging.
// An update stopped half way by an empty battery can leave the device unusable.
class PowerCheck
{
public:
    // Takes ownership of the status.
    explicit PowerCheck(PowerStatus* owned);
    ~PowerCheck();

    void setStatus(PowerStatus* replacement);

    // Why the computer should be plugged in before an update of this length; empty when its power
    // is fine or not known.
    QString warning(const UpdateEstimate& estimate);
    // Whether the update may begin: the power is fine, or the one asked chose to go on.
    bool allows(const UpdateEstimate& estimate, WorkflowQuestions* questions);

    static QString title();

private:
    PowerStatus* status = nullptr;

    PowerCheck(const PowerCheck&) = delete;
    PowerCheck& operator=(const PowerCheck&) = delete;
};

} // namespace PelkPlus
