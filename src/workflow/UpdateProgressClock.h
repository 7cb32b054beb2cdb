#pragma once

#include "workflow/UpdateEstimate.h"
#include "workflow/WorkflowPhase.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace PelkPlus {

// The whole update's progress while it runs: which component of how many, the share of the
// estimated time done and the time left. It beats once a second, so that a face shows the time
// moving during the sector pauses, the ready check and the restart, when no transfer progress
// comes and an update that looks frozen is one people unplug.
//
// While the update waits on the device or the user, for as long as they take, no time left can be
// promised: the text says what is awaited, and for how long at most, instead. The estimate is
// refined once, from the rate at which the device took the first sector's worth of reports, so
// that a device slower than one report a millisecond is given its longer time.
class UpdateProgressClock : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateProgressClock)

public:
    static constexpr int heartbeatMs = 1000;

    explicit UpdateProgressClock(QObject* parent = nullptr);
    ~UpdateProgressClock() override;

    // Replaces the steady clock (milliseconds); for tests.
    void setTimeSource(std::function<qint64()> source);

    // An update of this estimate begins.
    void begin(const UpdateEstimate& estimate);
    // The workflow entered phase while working on the component at index (-1 before the first).
    void enterPhase(WorkflowPhase phase, int index);
    // The share of the current component's transfer done, 0 to 1.
    void setTransferFraction(double fraction);
    // The update waits for the user's answer to a question, until awaiting is false again.
    void awaitAnswer(bool awaiting);
    // The estimate as refined so far.
    UpdateEstimate estimated() const { return estimate; }
    // The update ended; the overall line goes.
    void stop();
    bool isRunning() const { return running; }

    // The time done of the estimate and the time left, now.
    qint64 doneMs() const;
    qint64 remainingMs() const { return qMax<qint64>(0, estimate.totalMs() - doneMs()); }
    int percent() const;
    // What progressChanged says now.
    QString currentText() const;
    // The index of the component under way, 0 before the first and the last after it.
    int component() const;

    // "Component 2 of 4, 37 % of the update done, about 2 minutes left".
    static QString text(int component, int count, int percent, qint64 remainingMs);
    // "Component 2 of 4, 37 % of the update done, waiting for the device to restart, up to 60 s".
    static QString text(int component, int count, int percent, const QString& awaited);
    // What the update waits for in phase (empty: nothing it cannot foresee), with the longest it
    // may still take, in the protocol's real milliseconds.
    static QString awaitedText(WorkflowPhase phase, int model, bool answer, qint64 boundLeftMs);

signals:
    // Every beat and every change; an empty text when the update has ended.
    void progressChanged(const QString& text);

private:
    enum class Step { Before, ReadyCheck, Transfer, Reboot };

    void beat();
    qint64 now() const;
    void measureRate();

    UpdateEstimate estimate;
    // What the first statement of the time rounded the estimate by; the time left is said with the
    // same rounding, so that "about 30 seconds" is not followed by "about 20 seconds left" a
    // moment later.
    qint64 spokenOffsetMs = 0;
    WorkflowPhase lastPhase = WorkflowPhase::Updating;
    qint64 phaseStartMs = 0;
    bool answering = false;
    // The rate is measured once, over the first transfer of the update.
    bool rateMeasured = false;
    bool running = false;
    int index = -1;
    Step step = Step::Before;
    qint64 stepStartMs = 0;
    double fraction = 0;
    QTimer heartbeat;
    QElapsedTimer steady;
    std::function<qint64()> timeSource;
};

} // namespace PelkPlus
