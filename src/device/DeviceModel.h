#pragma once

#include <cstdint>

namespace PelkPlus {

// The two models of the family, told apart by their USB product ID.
enum DeviceModel : int {
    Base = 0,
    Plus = 1,
};

constexpr std::uint16_t pelkVendorId = 0x1210;
constexpr std::uint16_t pelkBaseProductId = 0x0042;
constexpr std::uint16_t pelkPlusProductId = 0x0043;

// The model for a product ID, or -1 for a product that is not of the family.
constexpr int modelForProductId(std::uint16_t productId)
{
    return productId == pelkBaseProductId ? Base : productId == pelkPlusProductId ? Plus : -1;
}

constexpr std::uint16_t productIdForModel(int model)
{
    return model == Base ? pelkBaseProductId : pelkPlusProductId;
}

// "Pelk" or "Pelk+", as the user knows the model.
inline const char* modelName(int model)
{
    return model == Base ? "Pelk" : "Pelk+";
}

} // namespace PelkPlus
