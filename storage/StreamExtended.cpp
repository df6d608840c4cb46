#include "storage/StreamExtended.h"

#include <bit>
#include <cstddef>

namespace vexa {

std::array<uint8_t, 10> DoubleToExtended(double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  const uint16_t sign = (bits >> 63) != 0 ? 0x8000 : 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  uint64_t mantissa = 0;
  int e = 0;
  if (exponent == 0x7FF) {
    e = 0x7FFF;
    mantissa = (uint64_t{1} << 63) | (fraction << 11);
  } else if (exponent == 0) {
    if (fraction != 0) {
      // Subnormal double: normal in the wider exponent range.
      const int top = 63 - std::countl_zero(fraction);
      e = top - 1074 + 16383;
      mantissa = fraction << (63 - top);
    }
  } else {
    e = exponent - 1023 + 16383;
    mantissa = (uint64_t{1} << 63) | (fraction << 11);
  }
  std::array<uint8_t, 10> out{};
  for (int i = 0; i < 8; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(mantissa >> (8 * i));
  const uint16_t se = static_cast<uint16_t>(sign | e);
  out[8] = static_cast<uint8_t>(se & 0xFF);
  out[9] = static_cast<uint8_t>(se >> 8);
  return out;
}

double ExtendedToDouble(const uint8_t* bytes) {
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa |= uint64_t{bytes[i]} << (8 * i);
  const uint16_t se = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
  const uint64_t sign = (se & 0x8000) != 0 ? uint64_t{1} << 63 : 0;
  const int e = se & 0x7FFF;
  if (e == 0x7FFF) {
    if ((mantissa << 1) == 0) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52) | (uint64_t{1} << 51) |
                                 ((mantissa << 1) >> 12));
  }
  if (mantissa == 0) return std::bit_cast<double>(sign);
  // value = mantissa * 2^(exp - 63); denormal and unnormal forms are normalised first.
  int exp = (e == 0 ? 1 : e) - 16383;
  const int lead = std::countl_zero(mantissa);
  mantissa <<= lead;
  exp -= lead;
  if (exp > 1023) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
  // Keep 53 bits (fewer for a subnormal result) and round the rest to nearest, ties to even.
  int shift = 11;
  if (exp < -1022) shift += -1022 - exp;
  if (shift > 64) return std::bit_cast<double>(sign);
  uint64_t kept = shift == 64 ? 0 : mantissa >> shift;
  const uint64_t rest = shift == 64 ? mantissa : mantissa & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (kept & 1) != 0)) ++kept;
  if (exp >= -1022) {
    if (kept == (uint64_t{1} << 53)) {
      kept >>= 1;
      ++exp;
      if (exp > 1023) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    }
    return std::bit_cast<double>(sign | (static_cast<uint64_t>(exp + 1023) << 52) |
                                 (kept & ((uint64_t{1} << 52) - 1)));
  }
  // Subnormal: a carry into bit 52 gives the smallest normal, which the same encoding expresses.
  return std::bit_cast<double>(sign | kept);
}

}  // namespace vexa
