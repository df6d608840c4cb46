#include "ui/model/HistoryChart.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

THistorySnapshot THistorySnapshot::Of(const TCustomRegister& reg) {
  THistorySnapshot s;
  s.Times = reg.Points().ToStringList();
  s.Texts = reg.DataList().ToStringList();
  s.Values.reserve(static_cast<size_t>(s.Texts.size()));
  for (const QString& text : s.Texts) {
    const std::optional<double> v = StrToFloat(text);
    // An infinite value would never fit any scale.
    s.Values.push_back(v && std::isfinite(*v) ? *v : 0.0);
  }
  // A damaged file may hold fewer values than times: the missing ones are drawn as 0.
  if (s.Values.size() < static_cast<size_t>(s.Times.size()))
    s.Values.resize(static_cast<size_t>(s.Times.size()), 0.0);
  return s;
}

THistoryScale AutoScale(const std::vector<double>& values, int visible, int height, double& yScale) {
  if (!std::isfinite(yScale) || yScale <= 0) yScale = 1.0;
  visible = std::clamp(visible, 0, static_cast<int>(values.size()));
  bool anyPositive = false;
  bool anyNegative = false;
  double largest = 0;
  for (int i = 0; i < visible; ++i) {
    const double v = values[static_cast<size_t>(i)];
    (v >= 0 ? anyPositive : anyNegative) = true;
    largest = std::max(largest, std::fabs(v));
  }
  THistoryScale s;
  for (;;) {
    s.ZeroLine = height / 2;
    s.Room = s.ZeroLine;
    const double range = largest * yScale;
    if (anyPositive && !anyNegative) {
      s.ZeroLine = height * 19 / 20;
      s.Room = s.ZeroLine;
    } else if (anyNegative && !anyPositive) {
      s.ZeroLine = height / 20;
      s.Room = height - s.ZeroLine;
    }
    if (range < 4 && range != 0) {
      yScale *= 2;
      return s;
    }
    if (s.Room - 16 < range) {
      yScale *= 0.5;
      continue;
    }
    return s;
  }
}

int ChartY(int zeroLine, double value, double yScale) {
  const double offset = std::nearbyint(value * yScale);
  constexpr double limit = 1 << 24;  // far outside any surface, and safe to draw
  return zeroLine - static_cast<int>(std::clamp(offset, -limit, limit));
}

THistoryReadout Readout(const THistorySnapshot& history, int cursor, int visible) {
  THistoryReadout r;
  if (cursor < 0 || cursor >= visible || cursor >= history.Times.size()) return r;
  const QString& t = history.Times.at(cursor);
  if (const std::optional<double> at = StrToDateTime(t)) {
    const QDateTime dt = DateTimeToQt(*at);
    r.Date = QLatin1Char(' ') + dt.date().toString(FormatSettings().ShortDateFormat) + QLatin1Char(' ');
    r.Time = QLatin1Char(' ') + dt.time().toString(FormatSettings().LongTimeFormat).left(10);
  } else {
    const qsizetype space = t.indexOf(QLatin1Char(' '));
    r.Date = QLatin1Char(' ') + (space < 0 ? t : t.left(space + 1));
    r.Time = QLatin1Char(' ') + (space < 0 ? QString() : t.mid(space + 1, 10));
  }
  r.Value = QLatin1Char(' ') + history.Texts.value(cursor);
  return r;
}

int VisibleCount(const THistorySnapshot& history, int width) {
  return std::min(static_cast<int>(history.Times.size()), width);
}

}  // namespace vexa
