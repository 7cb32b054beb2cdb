#pragma once

#include "app/SleepPreventer.h"

#include <QDBusConnection>
#include <QString>

namespace PelkPlus {

// Asks the desktop (org.freedesktop.portal.Inhibit on the session bus) to keep the session from
// suspending, idling, logging out or switching user. Inside a sandbox this is the only way to
// ask; elsewhere it is asked beside the login manager, which the desktop's own automatic suspend
// may not consult. The request lasts until its handle is closed or this process leaves the bus.
class SleepPreventerPortal : public SleepPreventer
{
public:
    // logout (1), user switch (2), suspend (4) and idle (8).
    static constexpr uint inhibitFlags = 1 | 2 | 4 | 8;

    // Uses the session bus, connecting on the first request only.
    SleepPreventerPortal();
    explicit SleepPreventerPortal(const QDBusConnection& bus);
    ~SleepPreventerPortal() override;

    void setPreventSleep(bool on) override;
    bool isPreventingSleep() const override;

private:
    void acquire();
    void release();

    QDBusConnection bus;
    bool useSessionBus = false;
    bool active = false;
    // The request's object, to be closed; kept also when the portal did not answer in time, since
    // it may still take the request, under the path it is bound to give it.
    QString handle;
};

} // namespace PelkPlus
