#include "device/LinkResult.h"

#include <cstdio>

namespace PelkPlus {

const char* linkResultName(LinkResult result)
{
    switch (result) {
    case LinkOk:
        return "success";
    case LinkOpenFailed:
        return "cannot open the device";
    case LinkAccessDenied:
        return "access to the device denied";
    case LinkReadFailed:
        return "read failed";
    case LinkWriteFailed:
        return "write failed";
    case LinkReadyReplyUnknown:
        return "ready reply not recognised";
    case LinkBadSignature:
        return "bad reply signature";
    case LinkBadCommand:
        return "unexpected reply command";
    case LinkBadCount:
        return "unexpected reply count";
    case LinkFileTooBig:
        return "file too big for the device";
    case LinkTimeout:
        return "time-out";
    case LinkDspFileMalformed:
        return "DSP firmware file malformed";
    case LinkFileOpenFailed:
        return "file cannot be opened";
    case LinkNotSupported:
        return "not supported by this model";
    case LinkDeviceBusy:
        return "in use by another updater";
    case LinkShortReply:
        return "reply too short";
    case LinkStopped:
        return "stopped";
    }
    // One buffer per thread: the agent's worker and the GUI thread may both name a result at once.
    thread_local char unknown[24];
    std::snprintf(unknown, sizeof(unknown), "result %d", int(result));
    return unknown;
}

} // namespace PelkPlus
