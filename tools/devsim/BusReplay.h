#pragma once

#include <QByteArray>
#include <QObject>

class QIODevice;

namespace PelkPlus {

class ReplaySession;

// The bus's side of a replay: answers the host's enumerations and opens as the recording has
// them, and each report it writes with the replies recorded after it, until the host departs from
// the recording or the recording ends; both are said once.
class BusReplay : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BusReplay)

public:
    explicit BusReplay(QObject* parent = nullptr);
    ~BusReplay() override;

    // The recording to play; none plays while it is null. Not owned.
    void setSession(ReplaySession* session) { replay = session; }

    // Whether the request line ("ENUM", "OPEN <path>") is the recording's to answer.
    bool answers(const QByteArray& line) const;
    // Answers the request line on socket. Returns the recording's handle of the device opened, or
    // -1 when the request is answered and the connection closed.
    int answer(QIODevice* socket, const QByteArray& line);
    // A report the host wrote on the connection to the recorded device.
    void hostWrote(QIODevice* socket, int device, const QByteArray& report);
    void hostClosed(int device);

signals:
    void event(const QString& line);
    // The host did something else than the recording holds; the line has been said.
    void mismatch();

private:
    void fail(const QString& reason);
    void announceEnd();

    ReplaySession* replay = nullptr;
    bool endAnnounced = false;
    bool failed = false;
};

} // namespace PelkPlus
