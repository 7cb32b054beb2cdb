#pragma once

#include <cstdint>

namespace PelkPlus {

// The device header as decoded once when a link is opened.
struct HeaderRecord
{
    std::uint16_t tag = 0;
    std::uint16_t mcuWord = 0;
    std::uint16_t dspWord = 0;
    std::uint32_t ensembleVersion = 0;
    std::uint16_t stylesVersion = 0;
};

// Decodes a header reply (64 bytes, report ID not included) with the model's rules.
HeaderRecord decodeHeader(const unsigned char* report, int model);

} // namespace PelkPlus
