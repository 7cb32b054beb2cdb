#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace PelkPlus {

// The pause before a retry, told as it passes: "... Trying again in 4 s (retry 3 of 3)...", then
// 3 s, 2 s and 1 s, and "Trying again now" when the request goes out again, so that a wait of a few
// seconds does not look like a hang. The pauses themselves are the owner's (RetryBackoff).
class RetryCountdown : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(RetryCountdown)

public:
    explicit RetryCountdown(QObject* parent = nullptr);
    ~RetryCountdown() override;

    // Tells the retry at once and every second of its pause; a countdown under way gives way.
    void start(int attempt, int pauseMsecs, const QString& reason);
    // The request goes out again: said once, and the countdown ends.
    void finish();
    // Ends the countdown without a word (the request was given up).
    void stop();

signals:
    void retrying(const QString& text);

private:
    void tick();

    QTimer seconds;
    QElapsedTimer started;
    int retry = 0;
    int pauseMs = 0;
    QString why;
};

} // namespace PelkPlus
