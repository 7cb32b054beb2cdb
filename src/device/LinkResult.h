#pragma once

namespace PelkPlus {

// Result of every device-link operation; 0 is success.
using LinkResult = int;

enum LinkResultCode : int {
    LinkOk = 0,
    LinkOpenFailed = 2,
    // The path exists but this account may not open it (the node's permissions).
    LinkAccessDenied = 3,
    LinkReadFailed = 4,
    LinkWriteFailed = 5,
    LinkReadyReplyUnknown = 6,
    LinkBadSignature = 7,
    LinkBadCommand = 8,
    LinkBadCount = 9,
    LinkFileTooBig = 10,
    LinkTimeout = 12,
    LinkDspFileMalformed = 13,
    LinkFileOpenFailed = 15,
    LinkNotSupported = 16,
    LinkStopped = 20,
};

} // namespace PelkPlus
