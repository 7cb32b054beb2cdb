#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace PelkPlus {

// The log kept on disk besides standard output, for a user to send to support: one file in the
// application's data location, a UTC time stamp and the level before every line, rotated at
// 1 MiB with three older files kept. Written from every thread that logs; one lock keeps lines
// whole and in order.
class LogFile
{
public:
    static constexpr qint64 maxFileSize = 1024 * 1024;
    static constexpr int keptOldFiles = 3;

    // "logs" in the application's data location; valid once the application's names are set.
    static QString folderPath();
    // The current file; older ones carry ".1" (the newest) to ".3".
    static QString filePath();

    // Opens the file for appending, creating the folder closed to others. A folder or file that
    // cannot be written is said once on standard output; logging then goes on there alone.
    static void start();
    // Closes the file; later lines go to standard output only.
    static void stop();
    static bool isWriting();

    // Appends the message, each of its lines stamped; does nothing while no file is open.
    static void write(QtMsgType type, const QString& message);

    // The last count lines written, oldest first, as they stand in the files.
    static QStringList lastLines(int count);
};

} // namespace PelkPlus
