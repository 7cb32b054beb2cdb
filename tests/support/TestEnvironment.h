#pragma once

#include <QTemporaryDir>
#include <QTest>

namespace PelkPlus {

// Points every per-user location of the process (settings, runtime and temporary directories)
// into one fresh temporary directory, so that no test reads or writes the user's real files.
// Create it first thing in main(), before the application object.
class TestEnvironment
{
public:
    // The first pause before a download is tried again, in every test.
    static constexpr int retryPause = 10;

    TestEnvironment();
    QString path() const { return rootDir.path(); }

    // True in continuous integration (CI set, as .ci/run sets it): there a test that cannot run for
    // want of a tool fails instead of being skipped, so that a missing package is never a silent pass.
    static bool everyTestRequired();

private:
    QTemporaryDir rootDir;
};

} // namespace PelkPlus

// Skips the test for want of what the reason names; fails it where every test is required.
#define PELK_SKIP_UNLESS_REQUIRED(reason)                                                                    \
    do {                                                                                                     \
        if (PelkPlus::TestEnvironment::everyTestRequired())                                                  \
            QFAIL(reason " The continuous integration must install it.");                                    \
        QSKIP(reason);                                                                                       \
    } while (false)
