#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace PelkPlus {

// The device side of a recorded HID session (PELK_HID_RECORD), played back in the order it was
// recorded: enumerations as they were seen, opens answered as they were, and after each report
// the host writes, the replies the device gave to it. Every report the host writes is compared
// with the recording's; the first that differs ends the replay.
class ReplaySession
{
public:
    struct Event
    {
        enum Kind { Enumerate, Open, Write, Read, Close } kind = Enumerate;
        int device = 0;      // the recording's handle number
        QString path;        // Open
        bool ok = true;      // Open: it succeeded; Write, Read: the result was not -1
        int error = 0;       // Open: the errno of a failed open
        QByteArray data;     // Write: the report sent; Read: the report received
        QByteArray listing;  // Enumerate: the bus's answer, one line per entry
        int writeNumber = 0; // Write: its number among all the recording's writes, from 1
        bool consumed = false;
    };

    // What the bus is to do after a report from the host.
    struct Answer
    {
        QVector<QByteArray> replies;
        bool hangUp = false;
        QString mismatch; // set when the report is not the recording's
    };

    // Reads a recording; false with a reason when it is not one.
    bool load(const QString& filePath, QString* error);

    // The bus's answer to an enumeration now.
    QByteArray enumeration();
    // Answers an open of path: the recording's handle number, or -1 with the bus's refusal line in
    // refusal (and a mismatch when the recording holds no such open).
    int open(const QString& path, QByteArray* refusal, QString* mismatch);
    Answer hostWrote(int device, const QByteArray& report);
    void hostClosed(int device);

    bool finished() const;
    int writesMatched() const { return matched; }
    int writeCount() const { return writes; }

private:
    int nextTraffic() const { return pending; }
    // Marks the event played and moves the place in the recording past everything played.
    void consume(int index);
    // Pushes the replies recorded after position index for the device, up to its next write.
    void collectReplies(int device, Answer& answer);

    QVector<Event> events;
    // The place in the recording: every event before it is an enumeration or has been played, so
    // no search starts earlier. A recording of a whole update holds a quarter of a million reports.
    int pending = 0;
    int lastEnumeration = -1;
    int lastConsumed = -1;
    // The last enumeration at or before lastConsumed, found by a scan that has reached floorScanned.
    int floor = -1;
    int floorScanned = -1;
    // Where the search for the next enumeration to give the host stopped last time: none lies
    // between lastEnumeration and it.
    int enumerationScanned = -1;
    int matched = 0;
    int writes = 0;
};

} // namespace PelkPlus
