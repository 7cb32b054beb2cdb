#include "update/RetryBackoff.h"

#include <QtGlobal>

#include <limits>

namespace PelkPlus {

int RetryBackoff::next(int firstPauseMs)
{
    if (taken >= maximumRetries)
        return -1;
    const qint64 pause = qint64(qMax(firstPauseMs, 0)) << taken;
    ++taken;
    return int(qMin<qint64>(pause, std::numeric_limits<int>::max()));
}

} // namespace PelkPlus
