#pragma once

#include "app/SleepPreventer.h"

#include <QDBusConnection>

namespace PelkPlus {

// Keeps a Linux desktop from idle sleep through the login manager (org.freedesktop.login1 on the
// system bus): an Inhibit call returns a file descriptor, and the lock holds for as long as that
// descriptor stays open anywhere. Where no login manager answers, requests are refused.
class SleepPreventerLogind : public SleepPreventer
{
public:
    // Uses the system bus, connecting on the first request only.
    SleepPreventerLogind();
    explicit SleepPreventerLogind(const QDBusConnection& bus);
    ~SleepPreventerLogind() override;

    void setPreventSleep(bool on) override;
    bool isPreventingSleep() const override;

private:
    void acquire();
    void release();

    QDBusConnection bus;
    bool useSystemBus = false;
    // Our only copy of the inhibitor's descriptor, -1 while sleep is not prevented.
    int inhibitorFd = -1;
};

} // namespace PelkPlus
