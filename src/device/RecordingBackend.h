#pragma once

namespace PelkPlus {

struct HidBackend;

// Wraps a backend so that every call it makes is written to a file, one JSON object a line: the
// enumeration results, each open with its result and reason, each report written and read with its
// bytes in hex, its result and the time since the recording began, and each close. For support: a
// user's session with a misbehaving device can be sent and replayed (pelk-devsim --replay). One
// recording per process; the file is created afresh. Null when the file cannot be created.
const HidBackend* recordingBackend(const HidBackend* inner, const char* filePath);

// The file being recorded to, null while nothing is.
const char* hidRecordingPath();

} // namespace PelkPlus
