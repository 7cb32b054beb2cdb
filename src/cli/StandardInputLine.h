#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace PelkPlus {

// One line of standard input, read without holding up the event loop, so that a Ctrl-C or the
// device's going away is heard while it is awaited. POSIX watches the descriptor with the loop
// (StandardInputLinePosix.cpp); a Windows console or pipe cannot be watched so, and a thread of its
// own reads the line and hands it to the loop (StandardInputLineWin.cpp).
class StandardInputLine : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(StandardInputLine)

public:
    explicit StandardInputLine(QObject* parent = nullptr);
    ~StandardInputLine() override;

    // Begins reading one line.
    void start();
    // Nothing more is told, whatever is read.
    void stop();
    // Whether the line last told ended with its line end, not with the end of input.
    bool wasComplete() const { return lineComplete; }

signals:
    // Once per start(): the line without its end; what was read before the end of input, when it ends first.
    void lineRead(const QByteArray& line);

private:
    void finish();

    bool reading = false;
    bool lineComplete = false;
    QByteArray line;
    QSocketNotifier* notifier = nullptr;
};

} // namespace PelkPlus
