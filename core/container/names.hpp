// Name tables of the data block types and derivatives.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kestrel {

// Indexed by the data type code after the second-channel reduction; empty = not listed.
inline constexpr std::array<std::string_view, 20> kDataTypeNames = {
    "",   "SC",   "IFG",  "PH", "AB",  "TR",    "KM",  "TRC", "",      "",
    "RAM", "EMIS", "REFL", "",  "POW", "LREFL", "ATR", "PAS", "TRARI", "ABARI"};

inline constexpr std::array<std::string_view, 4> kDerivativeNames = {"NONE", "1DER", "2DER", "NDER"};

inline constexpr int kSecondChannelShift = 32;

}  // namespace kestrel
