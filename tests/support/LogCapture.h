#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace PelkPlus {

// Every line the program logs, from any thread, with the time it was logged; each is passed on to
// the test's own output too.
class LogCapture
{
public:
    LogCapture()
    {
        clock.start();
        s_current = this;
        previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        s_current = nullptr;
    }

    QStringList lines() const
    {
        std::lock_guard<std::mutex> locker(lock);
        QStringList texts;
        for (const auto& line : capturedLines)
            texts.append(line.second);
        return texts;
    }
    // Lines beginning with the prefix, in the order they were logged.
    QStringList linesStartingWith(const QString& prefix) const
    {
        return lines().filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
    }
    // The time since the capture began, on the clock of the lines.
    qint64 elapsed() const { return clock.elapsed(); }
    // When a line beginning with the prefix was first logged after the given time; -1 if none was.
    qint64 firstAt(const QString& prefix, qint64 after = -1) const
    {
        std::lock_guard<std::mutex> locker(lock);
        for (const auto& line : capturedLines) {
            if (line.first > after && line.second.startsWith(prefix))
                return line.first;
        }
        return -1;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        LogCapture* capture = s_current;
        if (!capture)
            return;
        {
            std::lock_guard<std::mutex> locker(capture->lock);
            capture->capturedLines.append({ capture->clock.elapsed(), message });
        }
        if (capture->previous)
            capture->previous(type, context, message);
    }

    static inline LogCapture* s_current = nullptr;
    QtMessageHandler previous = nullptr;
    QElapsedTimer clock;
    mutable std::mutex lock;
    QList<QPair<qint64, QString>> capturedLines;
};

} // namespace PelkPlus
