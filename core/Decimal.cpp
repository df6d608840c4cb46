#include "core/Decimal.h"

#include <cmath>

#include "core/Services.h"

namespace vexa {

// Parses text in the regional format exactly, so that scaling a text like 0,155 by 100 gives
// exactly 15.5 and the tie rule sees it.
std::optional<TDecimal> ParseDecimal(const QString& text, QChar separator) {
  const QString t = text.trimmed();
  TDecimal d;
  qsizetype i = 0;
  if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
    d.Negative = t[i++] == QLatin1Char('-');
  bool fraction = false;
  int digits = 0;
  for (; i < t.size(); ++i) {
    const QChar c = t[i];
    if (c == separator && !fraction) {
      fraction = true;
    } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
      d.Digits.append(static_cast<char>(c.unicode()));
      ++digits;
      if (fraction) --d.Exponent;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size()) {
    if (t[i] != QLatin1Char('e') && t[i] != QLatin1Char('E')) return std::nullopt;
    const QString exp = t.mid(i + 1);
    if (exp.isEmpty() || exp.contains(QLatin1Char(' '))) return std::nullopt;
    const auto e = StrToInt(exp, -100000, 100000);
    if (!e) return std::nullopt;
    d.Exponent += static_cast<int>(*e);
  }
  while (d.Digits.startsWith('0')) d.Digits.remove(0, 1);
  return d;
}

std::optional<int64_t> ScaleDecimal(const TDecimal& d, int digits, TRounding rounding) {
  const int exponent = d.Exponent + digits;
  QByteArray whole = d.Digits;
  QByteArray rest;
  if (exponent >= 0) {
    if (!whole.isEmpty()) whole.append(QByteArray(exponent, '0'));
  } else {
    const qsizetype cut = whole.size() + exponent;
    if (cut <= 0) {
      rest = QByteArray(-cut, '0') + whole;
      whole.clear();
    } else {
      rest = whole.mid(cut);
      whole = whole.left(cut);
    }
  }
  if (whole.size() > 18) return std::nullopt;
  int64_t v = whole.isEmpty() ? 0 : whole.toLongLong();
  if (rounding == TRounding::TiesToEven && !rest.isEmpty()) {
    const char first = rest[0];
    const bool beyondHalf = first > '5' || (first == '5' && rest.mid(1).count('0') != rest.size() - 1);
    const bool half = first == '5' && !beyondHalf;
    if (beyondHalf || (half && (v % 2) != 0)) ++v;
  }
  return d.Negative ? -v : v;
}

std::optional<TDecimal> DecimalOf(double x) {
  if (!std::isfinite(x)) return std::nullopt;
  return ParseDecimal(QString::asprintf("%.15g", x), QLatin1Char('.'));
}

QString FixedText(int64_t raw, int digits) {
  if (digits <= 0) return QString::number(raw);
  const bool negative = raw < 0;
  QString s = QString::number(negative ? -raw : raw);
  if (s.size() <= digits) s = QString(digits - s.size() + 1, QLatin1Char('0')) + s;
  s.insert(s.size() - digits, FormatSettings().DecimalSeparator);
  return negative ? QLatin1Char('-') + s : s;
}

}  // namespace vexa
