#include "update/Sha256.h"

#include <sodium.h>

namespace PelkPlus {

struct Sha256::State
{
    crypto_hash_sha256_state state;
};

Sha256::Sha256()
    : hashState(std::make_unique<State>())
{
    // Picks the library's implementations once per process; the digest itself needs nothing else.
    [[maybe_unused]] const int ready = sodium_init();
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    crypto_hash_sha256_init(&hashState->state);
}

void Sha256::addData(const QByteArray& data)
{
    crypto_hash_sha256_update(&hashState->state, reinterpret_cast<const unsigned char*>(data.constData()),
        static_cast<unsigned long long>(data.size()));
}

QByteArray Sha256::result() const
{
    // Finishing consumes the state, so a copy is finished.
    crypto_hash_sha256_state copy = hashState->state;
    QByteArray digest(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256_final(&copy, reinterpret_cast<unsigned char*>(digest.data()));
    return digest;
}

} // namespace PelkPlus
