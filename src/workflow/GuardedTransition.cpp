#include "workflow/GuardedTransition.h"

namespace PelkPlus {

GuardedTransition::~GuardedTransition() = default;

bool GuardedTransition::eventTest(QEvent* event)
{
    return QSignalTransition::eventTest(event) && guard();
}

} // namespace PelkPlus
