#pragma once

class QState;

namespace PelkPlus {

// A state of the workflow's machine, named after its member so that tests and faces can find it by
// object name.
QState* newState(const char* name, QState* parent);

} // namespace PelkPlus
