#pragma once

// The main() of every suite: PELK_TEST_MAIN(TestClass, Setting), where Setting is the process the
// suite runs in, made after its private settings and temporary files and before the test object:
//   ConsoleTest   a QCoreApplication named as the updater, the device types registered
//   EngineTest    that and a configuration manager, for suites that run the engine
//   WidgetTest, WindowTest (support/WindowHarness.h): the same with a QApplication.
// A setting may be any class constructed from (int& argc, char** argv) with a static
// prepare(int& argc, char** argv), which runs first of all (a suite that starts itself again under a
// preload library, or runs as its own helper process, does it there).

#include "app/ApplicationIdentity.h"
#include "app/ConfigurationManager.h"
#include "device/DeviceInfo.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTest>

#include <csignal>

namespace PelkPlus {

#ifdef PELK_SUITE_TIME_SCALE
// A suite built for the fast clock keeps it when started by hand rather than by ctest: its bounds
// are set for that clock, and on the real one its rows would fail for no fault of the code. Set
// while the suite's own file is initialised, ahead of its file-scope values read from the clock,
// and handed to the programs the suite starts.
namespace {
const bool suiteClockSet = [] {
    if (qEnvironmentVariableIsEmpty("PELK_TEST_TIME_SCALE"))
        qputenv("PELK_TEST_TIME_SCALE", QByteArray::number(PELK_SUITE_TIME_SCALE));
    return true;
}();
} // namespace
#endif

// What every suite's process needs whatever its application: a pipe whose reader has gone (a
// simulator or a CLI that ended) must fail the write, not end the test.
inline void prepareTestProcess()
{
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    registerDeviceMetaTypes();
}

struct ConsoleTest
{
    static void prepare(int& /*argc*/, char** /*argv*/) { }
    ConsoleTest(int& argc, char** argv)
        : application(argc, argv)
    {
        ApplicationIdentity::setNames(application);
    }
    QCoreApplication application;
};

struct EngineTest : ConsoleTest
{
    using ConsoleTest::ConsoleTest;
    ConfigurationManager configuration;
};

template <class Test, class Setting> int runTestSuite(int argc, char** argv)
{
    Setting::prepare(argc, argv);
    prepareTestProcess();
    TestEnvironment environment;
    Setting setting(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace PelkPlus

#define PELK_TEST_MAIN(TestClass, Setting)                                                                   \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        return PelkPlus::runTestSuite<TestClass, Setting>(argc, argv);                                       \
    }
