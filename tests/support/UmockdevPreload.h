#pragma once

#include <QByteArray>

namespace PelkPlus {

// umockdev's preload library, which points a process's /sys, /dev and netlink at a testbed. A test
// that needs it calls ensure() first thing in main(): the process starts itself again under it.
class UmockdevPreload
{
public:
    // The library's path; empty when umockdev is not installed.
    static QByteArray library();
    // Whether this process runs under it.
    static bool active();
    // What LD_PRELOAD must hold: a sanitizer's runtime must come before any other preloaded
    // library, so AddressSanitizer's, when the process has one, goes first.
    static QByteArray preloadList();
    // Executes the program again under the preload unless it runs under it already or umockdev is
    // missing; returns only in those two cases.
    static void ensure(char** argv);
    // A machine that runs the continuous integration (CI set) must have umockdev: without it the
    // emulated-stack tests fail there instead of skipping.
    static bool required();
};

} // namespace PelkPlus
