#include "ui/model/HistoryChart.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

namespace {

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

}  // namespace

THistorySnapshot THistorySnapshot::Of(const TCustomRegister& reg) {
  THistorySnapshot s;
  s.Times = reg.Points().ToStringList();
  s.Texts = reg.DataList().ToStringList();
  s.Values.reserve(static_cast<size_t>(s.Texts.size()));
  for (const QString& text : s.Texts) {
    const std::optional<double> v = StrToFloat(text);
    // A failed read ("***") is a gap in the curve; so is an infinite value, which no axis can show.
    s.Values.push_back(v && std::isfinite(*v) ? *v : kGap);
  }
  // A damaged file may hold fewer values than times: the missing ones are gaps.
  if (s.Values.size() < static_cast<size_t>(s.Times.size()))
    s.Values.resize(static_cast<size_t>(s.Times.size()), kGap);
  return s;
}

TValueAxis HistoryAxis(const THistorySnapshot& history, int visible, int height, double yScale,
                       int minTickGap) {
  const auto n = static_cast<size_t>(std::clamp(visible, 0, static_cast<int>(history.Values.size())));
  return TValueAxis::Fit(std::span(history.Values.data(), n), height, yScale, minTickGap);
}

void THistoryCursor::FollowNewest(const THistorySnapshot& history, int visible) {
  onNewest_ = true;
  Follow(history, visible);
}

void THistoryCursor::Place(const THistorySnapshot& history, int visible, int x) {
  x_ = x;
  const bool onSample = x >= 0 && x < visible && x < history.Times.size();
  time_ = onSample ? history.Times.at(x) : QString();
  times_ = history.Times;
  onNewest_ = onSample && x == visible - 1;
}

void THistoryCursor::Follow(const THistorySnapshot& history, int visible) {
  visible = std::min(visible, static_cast<int>(history.Times.size()));
  if (visible <= 0) {
    // Nothing to stand on (a history not yet logged, or cleared): the first sample to come is the newest.
    if (onNewest_ || !time_.isEmpty()) {
      x_ = -1;
      onNewest_ = true;
      time_.clear();
    }
    return;
  }
  if (onNewest_) {
    x_ = visible - 1;
  } else if (!time_.isEmpty()) {
    if (const std::optional<int> dropped = Dropped(history.Times)) {
      x_ = std::clamp(x_ - *dropped, 0, visible - 1);
    } else {
      // Samples only drop off the front: the cursor's sample is at its old index or before it.
      int at = std::min(x_, visible - 1);
      while (at >= 0 && history.Times.at(at) != time_) --at;
      x_ = std::max(at, 0);
    }
  }
  Place(history, visible, x_);
}

std::optional<int> THistoryCursor::Dropped(const QStringList& times) const {
  if (times.isEmpty()) return std::nullopt;
  // The first shift at which the old texts' tail is the new texts' head, the cursor's text included.
  for (qsizetype d = 0; d < times_.size(); ++d) {
    const qsizetype overlap = std::min(times_.size() - d, times.size());
    if (times_.at(d) != times.first() || times_.at(d + overlap - 1) != times.at(overlap - 1)) continue;
    if (x_ >= d && x_ - d < overlap && times.at(x_ - d) != time_) continue;
    return static_cast<int>(d);
  }
  return std::nullopt;
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
