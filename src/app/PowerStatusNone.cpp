#include "app/PowerStatusNone.h"

namespace PelkPlus {

PowerStatusNone::~PowerStatusNone() = default;

PowerStatus::Reading PowerStatusNone::read()
{
    return Reading();
}

} // namespace PelkPlus
