#include "cli/StandardInputLine.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <cstdio>
#include <thread>

namespace PelkPlus {

StandardInputLine::StandardInputLine(QObject* parent)
    : QObject(parent)
{ }

StandardInputLine::~StandardInputLine() = default;

void StandardInputLine::start()
{
    reading = true;
    line.clear();
    // The reading thread blocks until a line or the end of input and is never waited for: it only
    // posts what it read to the application, which tells it only while this object still asks.
    QPointer<StandardInputLine> self(this);
    std::thread([self] {
        QByteArray read;
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), stdin)) {
            read.append(buffer);
            if (read.endsWith('\n'))
                break;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, read] {
                if (self && self->reading) {
                    self->line = read;
                    self->finish();
                }
            },
            Qt::QueuedConnection);
    }).detach();
}

void StandardInputLine::stop()
{
    reading = false;
}

void StandardInputLine::finish()
{
    stop();
    QByteArray told = line;
    lineComplete = told.endsWith('\n');
    if (told.endsWith('\n'))
        told.chop(1);
    if (told.endsWith('\r'))
        told.chop(1);
    emit lineRead(told);
}

} // namespace PelkPlus
