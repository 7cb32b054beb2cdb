#include "workflow/NamedState.h"

#include <QState>

namespace PelkPlus {

QState* newState(const char* name, QState* parent)
{
    auto* state = new QState(parent);
    state->setObjectName(QLatin1String(name));
    return state;
}

} // namespace PelkPlus
