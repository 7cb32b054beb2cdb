#include "app/LogFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace PelkPlus {

namespace {

const char fileName[] = "pelk-updater.log";

struct State
{
    std::mutex lock;
    std::FILE* file = nullptr;
    QString path;
    qint64 size = 0;
    bool failureReported = false;
};

// Never destroyed: threads may still log while the process exits.
State& state()
{
    static State* s = new State;
    return *s;
}

const char* levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO";
    case QtWarningMsg:
        return "WARNING";
    case QtCriticalMsg:
        return "CRITICAL";
    case QtFatalMsg:
        return "FATAL";
    }
    return "DEBUG";
}

// "2026-12-08T01:14:21.042Z": made from the system clock with the C library alone, because the
// framework's date formatting sets up shared state on first use that several threads logging at
// once can race on (a line then came out with no stamp at all).
QByteArray timeStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now().time_since_epoch();
    const auto ms = duration_cast<milliseconds>(now).count();
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm utc {};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds); // the thread-safe form, with its arguments the other way round
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
        utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms % 1000));
    return QByteArray(text, length);
}

QString olderFile(const QString& path, int generation)
{
    return path + QLatin1Char('.') + QString::number(generation);
}

// Written straight to standard output: the logger itself is what failed.
void reportFailure(State& s, const QString& path)
{
    if (s.failureReported)
        return;
    s.failureReported = true;
    const QByteArray line = "LogFile: Cannot write the log file " + QFile::encodeName(path)
        + "; logging to standard output only.\n";
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

// Called with the lock held.
bool openFile(State& s)
{
    s.file = std::fopen(QFile::encodeName(s.path).constData(), "ab");
    if (!s.file)
        return false;
    QFile::setPermissions(s.path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    std::fseek(s.file, 0, SEEK_END);
    s.size = std::ftell(s.file);
    return true;
}

// Called with the lock held: the current file becomes ".1", ".1" becomes ".2" and so on; the
// oldest is dropped.
bool rotate(State& s)
{
    std::fclose(s.file);
    s.file = nullptr;
    QFile::remove(olderFile(s.path, LogFile::keptOldFiles));
    for (int generation = LogFile::keptOldFiles - 1; generation >= 1; --generation)
        QFile::rename(olderFile(s.path, generation), olderFile(s.path, generation + 1));
    QFile::rename(s.path, olderFile(s.path, 1));
    return openFile(s);
}

} // namespace

QString LogFile::folderPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/logs");
}

QString LogFile::filePath()
{
    return folderPath() + QLatin1Char('/') + QLatin1String(fileName);
}

void LogFile::start()
{
    // The paths are worked out before the lock is taken: the framework may log while it looks.
    const QString folder = folderPath();
    const QString path = filePath();
    const bool folderMade = QDir().mkpath(folder)
        && QFile::setPermissions(
            folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.file)
        std::fclose(s.file);
    s.file = nullptr;
    s.path = path;
    s.failureReported = false;
    if (!folderMade || !openFile(s))
        reportFailure(s, path);
}

void LogFile::stop()
{
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.file)
        std::fclose(s.file);
    s.file = nullptr;
}

bool LogFile::isWriting()
{
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.file != nullptr;
}

void LogFile::write(QtMsgType type, const QString& message)
{
    // A message the framework logs while this one is being written (a failing rename, say) would
    // wait for the lock its own thread holds; it goes to standard output alone.
    thread_local bool writing = false;
    if (writing)
        return;
    writing = true;
    struct Done
    {
        bool& flag;
        ~Done() { flag = false; }
    } done { writing };
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.file)
            return;
    }
    // Built outside the lock; a message of several lines gets its stamp on each.
    const QByteArray prefix = timeStamp() + ' ' + levelName(type) + ' ';
    QByteArray text;
    for (const QString& line : message.split(QLatin1Char('\n')))
        text += prefix + line.toUtf8() + '\n';

    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.file)
        return;
    if (s.size > 0 && s.size + text.size() > maxFileSize && !rotate(s)) {
        reportFailure(s, s.path);
        return;
    }
    if (std::fwrite(text.constData(), 1, size_t(text.size()), s.file) != size_t(text.size())
        || std::fflush(s.file) != 0) {
        std::fclose(s.file);
        s.file = nullptr;
        reportFailure(s, s.path);
        return;
    }
    s.size += text.size();
}

QStringList LogFile::lastLines(int count)
{
    State& s = state();
    QString path;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        path = s.path.isEmpty() ? filePath() : s.path;
    }
    // Newest file first, until enough lines are found.
    QStringList lines;
    for (int generation = 0; generation <= keptOldFiles && lines.size() < count; ++generation) {
        QFile file(generation == 0 ? path : olderFile(path, generation));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList fileLines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        if (!fileLines.isEmpty() && fileLines.last().isEmpty())
            fileLines.removeLast();
        lines = fileLines.mid(qMax(0, fileLines.size() - (count - lines.size()))) + lines;
    }
    return lines;
}

} // namespace PelkPlus
