#pragma once

#include <QByteArray>
#include <QEvent>
#include <QString>

namespace PelkPlus {

// A request to send one local file to the device, posted to the agent's worker: by its path, or as
// the bytes the file held when they were checked (then path only names it in the trace).
class SendFileEvent : public QEvent
{
public:
    static constexpr QEvent::Type Type = static_cast<QEvent::Type>(QEvent::User + 4);

    // fileType: 0 MCU firmware, 1 DSP firmware, 2 Styles, 3 Ensemble Audio.
    SendFileEvent(int fileType, const QString& path);
    SendFileEvent(int fileType, const QByteArray& contents, const QString& name);
    ~SendFileEvent() override;

    const int fileType;
    const QString path;
    const QByteArray contents;
    const bool inMemory;
};

} // namespace PelkPlus
