#include "support/StdoutCapture.h"

#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace PelkPlus {

StdoutCapture::StdoutCapture(const QString& path)
    : m_path(path)
{
    std::fflush(stdout);
    m_saved = ::dup(STDOUT_FILENO);
    m_open = std::freopen(QFile::encodeName(path).constData(), "w", stdout) != nullptr;
}

StdoutCapture::~StdoutCapture()
{
    finish();
}

QByteArray StdoutCapture::finish()
{
    if (m_saved >= 0) {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QFile file(m_path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace PelkPlus
