#pragma once

#include "device/Connection.h"
#include "device/DeviceInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace PelkPlus {

class UpdateHistory;
struct UpdateHistoryEntry;

// One device of the family on USB, with its versions when its header could be read.
struct DiagnosticsDevice
{
    Connection connection;
    std::optional<DeviceInfo> info;
};

// The text a user attaches to a support request: the updater and its platform, where it looks for
// updates and whom it trusts (key ids only, never key material), the devices connected, the most
// recent install attempts and the end of the log. The same text from the window and the command line.
class DiagnosticsReport
{
public:
    static constexpr int historyEntries = 20;
    static constexpr int logLines = 500;

    // Gathers the rest from the settings, the history and the log file.
    // devicesNote, when given, stands in the devices' section for why they were not read.
    static QString build(const QList<DiagnosticsDevice>& devices, const UpdateHistory& history,
        const QString& devicesNote = QString());
    // The backend in use, with the socket of the virtual bus when that is it.
    static QString hidBackendText();
    // Whether the HID calls are being recorded (PELK_HID_RECORD), and to which file.
    static QString hidRecordingText();
    static QString deviceText(const DiagnosticsDevice& device);
    // One install attempt: "time  model serial  component  before -> sent  outcome  source".
    static QString historyLine(const UpdateHistoryEntry& entry);
};

} // namespace PelkPlus
