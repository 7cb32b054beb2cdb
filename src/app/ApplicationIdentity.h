#pragma once

class QCoreApplication;

namespace PelkPlus {

// The names every program of the updater gives itself, with or without a window: they locate the
// settings, so the window and the command line share them.
class ApplicationIdentity
{
public:
    static const char* organizationDomain() { return "quellor.com"; }

    // Application name, organization domain and organization name, in that order.
    static void setNames(QCoreApplication& application);
};

} // namespace PelkPlus
