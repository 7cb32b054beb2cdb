#pragma once

namespace PelkPlus {

// Result of every device-link operation; 0 is success. A type of its own, so that a result is never
// confused with a count or a byte; its numbers are those the device layer has always returned, and
// they still convert to int for the trace lines that print them.
enum LinkResult : int {
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
    // Another updater, of this account or another, has the device open (DeviceLock).
    LinkDeviceBusy = 21,
    // A report shorter than the device's reports: nothing in it can be trusted.
    LinkShortReply = 22,
};

// The result's name for a log line ("time-out", "write failed"); a number the link never returns
// is named "result N". Its switch has no default, so the compiler names a result left out.
const char* linkResultName(LinkResult result);

} // namespace PelkPlus
