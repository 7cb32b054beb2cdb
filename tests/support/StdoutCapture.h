#pragma once

#include <QByteArray>
#include <QString>

namespace PelkPlus {

// Sends standard output to a file while it lives, for reading what was printed afterwards.
class StdoutCapture
{
public:
    explicit StdoutCapture(const QString& path);
    ~StdoutCapture();

    bool isOpen() const { return open; }
    // Restores standard output and returns what was printed meanwhile.
    QByteArray finish();

private:
    QString capturePath;
    int saved = -1;
    bool open = false;
};

} // namespace PelkPlus
