#pragma once
// The 80-bit extended floats of component streams.

#include <array>
#include <cstdint>

namespace vexa {

// 80-bit extended precision, little-endian: 8 bytes of mantissa with the explicit integer bit, then
// 15 bits of exponent and the sign. Converted by bit arithmetic, rounding to nearest even.
std::array<uint8_t, 10> DoubleToExtended(double value);
double ExtendedToDouble(const uint8_t* bytes);

}  // namespace vexa
