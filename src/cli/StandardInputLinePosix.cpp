#include "cli/StandardInputLine.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace PelkPlus {

StandardInputLine::StandardInputLine(QObject* parent)
    : QObject(parent)
{ }

StandardInputLine::~StandardInputLine() = default;

void StandardInputLine::start()
{
    reading = true;
    line.clear();
    if (!notifier) {
        notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char buffer[256];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof(buffer));
            if (got > 0) {
                line.append(buffer, int(got));
                if (!line.contains('\n'))
                    return;
            }
            finish();
        });
    }
    notifier->setEnabled(true);
}

void StandardInputLine::stop()
{
    reading = false;
    if (notifier)
        notifier->setEnabled(false);
}

void StandardInputLine::finish()
{
    stop();
    const int end = line.indexOf('\n');
    lineComplete = end >= 0;
    emit lineRead(end < 0 ? line : line.left(end));
}

} // namespace PelkPlus
