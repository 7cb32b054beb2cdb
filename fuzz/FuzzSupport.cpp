#include "FuzzSupport.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace PelkPlus {

void fuzzAssert(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

} // namespace PelkPlus

// The code under test logs every rejected input; printing millions of lines would be the slowest
// part of a run.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // The device layer prints its trace to standard output; libFuzzer reports on standard error.
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}
