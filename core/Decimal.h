#pragma once
// Exact decimal arithmetic for the fixed-point registers: a text like 0,155 scaled by 100 gives
// exactly 15.5, so that the rounding rule sees the tie a double would hide.

#include <QByteArray>
#include <QChar>
#include <QString>
#include <cstdint>
#include <optional>

namespace vexa {

// A decimal number held exactly: value = Digits x 10^Exponent.
struct TDecimal {
  bool Negative = false;
  QByteArray Digits;  // without leading zeros; empty for zero
  int Exponent = 0;
};

// Text in the regional format (with `separator`), exactly; nothing when it is no number.
std::optional<TDecimal> ParseDecimal(const QString& text, QChar separator);

enum class TRounding { TiesToEven, TowardZero };

// value x 10^digits as an integer, or nothing when it does not fit in 64 bits.
std::optional<int64_t> ScaleDecimal(const TDecimal& d, int digits, TRounding rounding);

// The exact decimal digits a double stands for when written with 15 significant digits.
std::optional<TDecimal> DecimalOf(double x);

// Raw integer R as text with `digits` decimals, exactly ("-0,05" for -5 with 2 digits).
QString FixedText(int64_t raw, int digits);

}  // namespace vexa
