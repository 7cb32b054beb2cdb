#pragma once

#include <QByteArray>

#include <memory>

namespace PelkPlus {

// An incremental SHA-256, fed as a download's bytes are written. Computed by libsodium, which is
// several times faster than the framework's own digest, so that checking a file costs its download
// next to nothing.
class Sha256
{
public:
    Sha256();
    ~Sha256();

    void reset();
    void addData(const QByteArray& data);
    // The 32-byte digest of everything added since the last reset.
    QByteArray result() const;

private:
    struct State;
    std::unique_ptr<State> hashState;
};

} // namespace PelkPlus
