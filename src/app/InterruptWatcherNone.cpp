#include "app/InterruptWatcher.h"

namespace PelkPlus {

// No POSIX signals here: the window's own close and the console's end stop an update.
InterruptWatcher::InterruptWatcher(QObject* parent)
    : QObject(parent)
{ }

InterruptWatcher::~InterruptWatcher() = default;

void InterruptWatcher::onReadable() { }

} // namespace PelkPlus
