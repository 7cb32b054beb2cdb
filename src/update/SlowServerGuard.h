#pragma once

#include <QElapsedTimer>
#include <QObject>

class QTimer;

namespace PelkPlus {

// Gives up on a server too slow to be waited for. Once a reply has run for the grace time, its
// average rate since it began must be at least the minimum rate: unlike the transfer time-out, a
// byte now and then does not keep it alive. A request may also be bounded in its whole duration,
// its retries included (0 for no such bound).
class SlowServerGuard : public QObject
{
    Q_OBJECT

public:
    explicit SlowServerGuard(QObject* parent = nullptr);
    ~SlowServerGuard() override;

    void setBounds(int graceMsecs, qint64 minimumRate, int maximumDuration);
    int graceTime() const { return grace; }
    qint64 minimumRate() const { return minimumBytesPerSecond; }
    int maximumDuration() const { return maximumDurationMs; }

    // A request to server (host:port) begins; its whole duration is measured from here, across its
    // attempts. Its bound is the lower of its own (0 for none) and the guard's maximum duration.
    void startRequest(int requestBound, const QString& server);
    int requestBound() const { return requestBoundMs; }
    // The failure text of a request over its whole bound, naming the server.
    QString tooLongText() const;
    bool isOverDuration() const;
    // One attempt's reply: its rate is measured from its start, and checked until it stops.
    void startReply();
    void addBytes(qint64 count) { replyBytes += count; }
    void stopReply();

signals:
    // The request ran past its maximum duration: another attempt would too.
    void tooLong(const QString& text);
    // The reply fell below the minimum rate after the grace time; the request may be tried again.
    void tooSlow(const QString& text);

private:
    Q_DISABLE_COPY(SlowServerGuard)

    void check();

    int grace = 0;
    qint64 minimumBytesPerSecond = 0;
    int maximumDurationMs = 0;
    int requestBoundMs = 0;
    QString requestServer;
    QTimer* rateTimer = nullptr;
    QElapsedTimer requestClock;
    QElapsedTimer replyClock;
    qint64 replyBytes = 0;
};

} // namespace PelkPlus
