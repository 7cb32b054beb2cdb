#pragma once

#include "app/PowerStatus.h"

#include <QDBusConnection>
#include <QString>

namespace PelkPlus {

// The power of a Linux computer from UPower (org.freedesktop.UPower on the system bus): whether it
// runs on battery, and the state and charge of its display device, the batteries seen as one.
// Where no such service answers, nothing is known; that is said once in the log.
class PowerStatusUPower : public PowerStatus
{
public:
    // Uses the system bus, connecting on the first reading only.
    PowerStatusUPower();
    explicit PowerStatusUPower(const QDBusConnection& connection);
    ~PowerStatusUPower() override;

    Reading read() override;

    // How long one question to the service may take; the window waits for it.
    static constexpr int callTimeoutMs = 500;

private:
    // Logs why nothing is known, the first time only.
    void unknown(const QString& why);

    QDBusConnection bus;
    bool useSystemBus = false;
    bool absenceLogged = false;
};

} // namespace PelkPlus
