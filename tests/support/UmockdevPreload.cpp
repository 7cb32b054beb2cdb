#include "support/UmockdevPreload.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace PelkPlus {

namespace {

// Set in the environment of the second start so that a preload the loader refuses cannot make the
// program start itself for ever.
constexpr const char* restartedMark = "PELK_UMOCKDEV_RESTARTED";

QByteArray sanitizerRuntime()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return QByteArray();
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const int at = line.indexOf('/');
        if (at >= 0 && line.contains("/libasan.so"))
            return line.mid(at).trimmed();
    }
    return QByteArray();
}

} // namespace

QByteArray UmockdevPreload::library()
{
#ifdef PELK_UMOCKDEV_PRELOAD
    const QByteArray path(PELK_UMOCKDEV_PRELOAD);
    if (QFile::exists(QFile::decodeName(path)))
        return path;
#endif
    return QByteArray();
}

bool UmockdevPreload::active()
{
    const QByteArray preload = qgetenv("LD_PRELOAD");
    return preload.contains("libumockdev-preload");
}

QByteArray UmockdevPreload::preloadList()
{
    QList<QByteArray> libraries;
    const QByteArray asan = sanitizerRuntime();
    if (!asan.isEmpty())
        libraries.append(asan);
    libraries.append(library());
    for (const QByteArray& present : qgetenv("LD_PRELOAD").split(':')) {
        if (!present.isEmpty() && !libraries.contains(present))
            libraries.append(present);
    }
    return libraries.join(':');
}

void UmockdevPreload::ensure(char** argv)
{
    if (active() || library().isEmpty() || qEnvironmentVariableIsSet(restartedMark))
        return;
    const QByteArray preload = preloadList();
    setenv("LD_PRELOAD", preload.constData(), 1);
    setenv(restartedMark, "1", 1);
    std::fflush(nullptr);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "cannot start again under %s: %s\n", preload.constData(), std::strerror(errno));
}

bool UmockdevPreload::required()
{
    return TestEnvironment::everyTestRequired();
}

} // namespace PelkPlus
