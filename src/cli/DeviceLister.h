#pragma once

#include <QObject>

namespace PelkPlus {

class CliOutput;
class DeviceListing;

// The devices command: the engine's listing of the devices on the bus (DeviceListing), written as
// check writes a device: each with the versions its model has, in the form a person reads.
class DeviceLister : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DeviceLister)

public:
    // serial: only that device, empty for all of them.
    DeviceLister(const QString& serial, CliOutput* output, QObject* parent = nullptr);
    ~DeviceLister() override;

    void start();

signals:
    void finished(int exitCode);

private:
    void report();

    QString wantedSerial;
    CliOutput* cliOutput;
    DeviceListing* listing;
};

} // namespace PelkPlus
