#include "processes/model/ValueAxis.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/Services.h"

namespace vexa {

namespace {

constexpr double kPixelLimit = 1 << 24;  // far outside any chart, and safe to draw
constexpr int kMaxTicks = 1000;

}  // namespace

double TValueAxis::Zoom(double stored) {
  if (!std::isfinite(stored) || stored <= 0) return 1;
  return std::clamp(stored, kMinZoom, kMaxZoom);
}

double TValueAxis::Zoomed(double stored, double factor) {
  return std::clamp(Zoom(stored) * factor, kMinZoom, kMaxZoom);
}

double RoundStep(double atLeast) {
  if (!(atLeast > 0) || !std::isfinite(atLeast)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(atLeast)));
  for (const double m : {1.0, 2.0, 5.0, 10.0})
    // A relative tolerance, so that 0.3 / 0.1 rounding to 2.9999... still picks 5 and 0.2 picks 2.
    if (m * power >= atLeast * (1 - 1e-12)) return m * power;
  return 10 * power;
}

QString TickText(double value, double step) {
  if (std::fabs(value) < step / 2) value = 0;  // never "-0"
  QString text;
  if (step >= 1e15 || step < 1e-12) {
    text = QString::number(value, 'g', 6);
  } else {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    text = QString::number(value, 'f', decimals);
  }
  return text.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
}

TValueAxis TValueAxis::Fit(std::span<const double> values, int height, double zoom, int minTickGap) {
  TValueAxis a;
  a.height_ = std::max(0, height);
  double low = 0;
  double high = 0;
  for (const double v : values) {
    if (!std::isfinite(v)) continue;
    if (!a.hasValues_) {
      low = high = v;
      a.hasValues_ = true;
    } else {
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  if (a.hasValues_) {
    // Halves first: the span of two extreme doubles is no double.
    a.centre_ = low / 2 + high / 2;
    const double half = high / 2 - low / 2;
    if (half > 0) {
      a.half_ = std::min(half * 1.2, DBL_MAX);  // a tenth of the span above and below
    } else {
      a.half_ = low != 0 ? std::fabs(low) / 10 : 1;  // flat: the line in the middle
    }
  }
  a.half_ /= Zoom(zoom);
  a.top_ = a.centre_ + a.half_;
  a.bottom_ = a.centre_ - a.half_;

  if (!a.hasValues_ || a.height_ < 2) return a;
  const double pixelsPerUnit = (a.height_ - 1) / 2.0 / a.half_;
  if (!(pixelsPerUnit > 0) || !std::isfinite(pixelsPerUnit)) return a;
  a.step_ = RoundStep(std::max(1, minTickGap) / pixelsPerUnit);
  const double first = std::ceil(a.bottom_ / a.step_);
  const double last = std::floor(a.top_ / a.step_);
  if (!std::isfinite(first) || !std::isfinite(last) || last - first > kMaxTicks) return a;
  for (double i = first; i <= last; ++i) {
    const double v = i * a.step_;
    a.ticks_.push_back({v, a.Y(v), TickText(v, a.step_)});
  }
  return a;
}

int TValueAxis::Y(double value) const {
  if (std::isnan(value)) return height_ / 2;
  const double middle = (height_ - 1) / 2.0;
  const double pixelsPerUnit = (height_ - 1) / 2.0 / half_;
  // (value - centre) in halves, so that no difference of two extremes overflows.
  double offset = (value / 2 - centre_ / 2) * 2 * pixelsPerUnit;
  if (std::isnan(offset)) offset = 0;  // a band of no height: every value on its middle
  const double y = std::nearbyint(middle - std::clamp(offset, -kPixelLimit, kPixelLimit));
  return static_cast<int>(std::clamp(y, -kPixelLimit, kPixelLimit));
}

std::optional<int> TValueAxis::ZeroY() const {
  if (!(bottom_ <= 0 && 0 <= top_)) return std::nullopt;
  return Y(0);
}

}  // namespace vexa
