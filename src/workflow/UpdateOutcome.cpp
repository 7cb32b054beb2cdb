#include "workflow/UpdateOutcome.h"

namespace PelkPlus {

const char* updateOutcomeName(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Done:
        return "done";
    case UpdateOutcome::Failed:
        return "failed";
    case UpdateOutcome::Stopped:
        return "stopped";
    case UpdateOutcome::NotApplied:
        return "not applied";
    }
    return "unknown outcome";
}

} // namespace PelkPlus
