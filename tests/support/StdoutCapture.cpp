#include "support/StdoutCapture.h"

#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace PelkPlus {

StdoutCapture::StdoutCapture(const QString& path)
    : capturePath(path)
{
    std::fflush(stdout);
    saved = ::dup(STDOUT_FILENO);
    open = std::freopen(QFile::encodeName(path).constData(), "w", stdout) != nullptr;
}

StdoutCapture::~StdoutCapture()
{
    finish();
}

QByteArray StdoutCapture::finish()
{
    if (saved >= 0) {
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        saved = -1;
    }
    QFile file(capturePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace PelkPlus
