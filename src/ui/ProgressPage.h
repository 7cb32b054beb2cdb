#pragma once

#include "workflow/MessageKind.h"

#include <QWidget>

class QLabel;
class QProgressBar;

namespace PelkPlus {

class MessageBox;
class UpdateWorkflow;

// The page of a running update: the component being installed, its download and install steps
// with their bars, and what the user must know or do now.
class ProgressPage : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(ProgressPage)

public:
    explicit ProgressPage(UpdateWorkflow* engine, QWidget* parent = nullptr);
    ~ProgressPage() override;

    // Hangs the page's widgets on the workflow's states and texts; called once, before the
    // workflow starts.
    void followStates();
    void showStatus(const QString& text, PelkPlus::MessageKind kind);

private:
    static void showStep(QLabel* label, QProgressBar* bar, const QString& text);
    static void showPercent(QProgressBar* bar, int percent);

    UpdateWorkflow* workflow = nullptr;
    QLabel* componentLabel = nullptr;
    QLabel* downloadLabel = nullptr;
    QLabel* installLabel = nullptr;
    MessageBox* statusMessage = nullptr;
    QProgressBar* downloadProgress = nullptr;
    QProgressBar* installProgress = nullptr;
    // Under the bars: the whole update's progress and time left.
    QLabel* overallLabel = nullptr;
    // Above the status: that the computer may sleep, while an update that nothing keeps awake runs.
    MessageBox* sleepWarning = nullptr;
};

} // namespace PelkPlus
