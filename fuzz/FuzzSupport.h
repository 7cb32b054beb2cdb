#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace PelkPlus {

// Text as the program would receive it from a file or an attribute: UTF-8, invalid sequences
// replaced.
inline QString fuzzText(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
}

// Stops the run with the input saved when a property of the code under test does not hold.
void fuzzAssert(bool condition, const char* what);

} // namespace PelkPlus
