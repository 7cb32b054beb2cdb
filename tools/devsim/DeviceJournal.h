#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace PelkPlus {

// What a simulated device says about itself: its log lines, each under the device's path, and the
// faults of the host it found, in the order it found them. Whoever serves the device decides
// where the lines go; without a sink they go nowhere.
class DeviceJournal
{
public:
    explicit DeviceJournal(const QString& devicePath = QString());

    void setSink(std::function<void(const QString&)> sink) { logSink = std::move(sink); }

    void log(const QString& line) const;
    // Records a fault of the host and logs it.
    void violation(const QString& what);
    const QStringList& violations() const { return violationList; }

private:
    QString path;
    std::function<void(const QString&)> logSink;
    QStringList violationList;
};

} // namespace PelkPlus
