#pragma once

#include "app/SleepPreventer.h"

#include <QDBusConnection>
#include <QStringList>

#include <vector>

namespace PelkPlus {

// Keeps a Linux computer awake and running through the login manager (org.freedesktop.login1 on
// the system bus): sleep, idle, the lid switch and shutdown are blocked. An Inhibit call returns a
// file descriptor, and the lock holds for as long as that descriptor stays open anywhere. Where
// the login manager refuses the four at once, each is asked alone and whatever it grants is kept.
// Where no login manager answers, requests are refused.
class SleepPreventerLogind : public SleepPreventer
{
public:
    // What is blocked, as the login manager lists it.
    static QString blockedText();

    // Uses the system bus, connecting on the first request only.
    SleepPreventerLogind();
    explicit SleepPreventerLogind(const QDBusConnection& bus);
    ~SleepPreventerLogind() override;

    void setPreventSleep(bool on) override;
    // True while sleep or idle sleep is blocked; the lid switch or shutdown alone keep nothing
    // awake.
    bool isPreventingSleep() const override;

private:
    enum class Answer { Granted, Refused, Unreachable };

    void acquire();
    void release();
    // Asks for one inhibitor lock on what; a granted one joins inhibitorFds.
    Answer inhibit(const QString& what);

    QDBusConnection bus;
    bool useSystemBus = false;
    // Our only copies of the inhibitors' descriptors, and what each one blocks.
    std::vector<int> inhibitorFds;
    QStringList blocked;
};

} // namespace PelkPlus
