#include "DeviceJournal.h"

namespace PelkPlus {

DeviceJournal::DeviceJournal(const QString& devicePath)
    : path(devicePath)
{ }

void DeviceJournal::log(const QString& line) const
{
    if (logSink)
        logSink(QStringLiteral("%1: %2").arg(path, line));
}

void DeviceJournal::violation(const QString& what)
{
    violationList.append(what);
    log(QStringLiteral("violation: ") + what);
}

} // namespace PelkPlus
