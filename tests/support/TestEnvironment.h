#pragma once

#include <QTemporaryDir>

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

private:
    QTemporaryDir rootDir;
};

} // namespace PelkPlus
