#include "processes/model/Cyclogram.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "core/Services.h"
#include "processes/model/CommandNode.h"

namespace vexa {

namespace {

// A pixel coordinate from a scaled value, truncated; bounded so that a huge scale or value (a
// damaged file) still gives a coordinate the arithmetic can take.
int Pixel(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 1e9;
  return static_cast<int>(std::trunc(std::clamp(v, -kLimit, kLimit)));
}

}  // namespace

QString CyclogramHeader(int column) {
  return column == 0 ? QStringLiteral("Значение") : QStringLiteral("Время (с)");
}

namespace {
// The warnings while typing, or nothing when the text is acceptable. A value for the node's
// register: read-only register, or a value its type cannot take.
TFaults ValueWarning(const TCustomRegister& node, const QString& text) {
  if (!node.UserCanWRITE())
    return TFaults(QStringLiteral("Регистр '%1'\r\nимеет тип 'ТОЛЬКО ЧТЕНИЕ'!").arg(node.Caption()),
                   TMsgIcon::Warning);
  if (!node.IsValidValue(text))
    return TFaults(
        QStringLiteral("'%1' - '%2'\r\nне может принять такое значение!").arg(text, node.Caption()),
        TMsgIcon::Warning);
  return {};
}

// A duration that is not a (32-bit) integer.
TFaults DurationWarning(const QString& text) {
  if (StrToInt(text)) return {};
  return TFaults(QStringLiteral("'%1' - не целое число!").arg(text), TMsgIcon::Warning);
}

// Within what the file keeps, so that no zoom makes the next load refuse it.
void SetTimeScale(TCommandNode& node, double scale) {
  node.SetXScale(std::clamp(scale, TCommandNode::kMinXScale, TCommandNode::kMaxXScale));
}
}  // namespace

void ZoomCyclogram(TCommandNode& node, TCyclogramZoom zoom) {
  switch (zoom) {
    case TCyclogramZoom::CompressX:
      SetTimeScale(node, node.XScale() * 0.5);
      break;
    case TCyclogramZoom::ZoomIn:
      node.SetYScale(TValueAxis::Zoomed(node.YScale(), 2));
      break;
    case TCyclogramZoom::ZoomOut:
      node.SetYScale(TValueAxis::Zoomed(node.YScale(), 0.5));
      break;
    case TCyclogramZoom::ExpandX:
      SetTimeScale(node, node.XScale() * 2);
      break;
  }
}

void TCyclogramTable::Load(const TCommandNode& node) {
  rows_.clear();
  const qsizetype n = node.Points().size();
  rows_.reserve(static_cast<size_t>(n));
  for (qsizetype k = 0; k < n; ++k) rows_.push_back({node.DataList().value(k), node.Points().at(k)});
  enabled_ = !rows_.empty();
  current_ = mark_ = PointCount();
}

void TCyclogramTable::Store(TCommandNode& node) const {
  QStringList values;
  QStringList durations;
  for (const TCyclogramRow& row : rows_) {
    values << row.Value;
    durations << row.Duration;
  }
  node.SetDataList(values);
  node.SetPoints(durations);
  node.SetChanged(true);
}

void TCyclogramTable::Select(int row) {
  if (row < 1 || row > PointCount()) return;
  current_ = mark_ = row;
}

QString TCyclogramTable::Cell(int row, int column) const {
  if (row == 0) return CyclogramHeader(column);
  if (row < 0 || row > PointCount()) return {};
  const TCyclogramRow& r = rows_[static_cast<size_t>(row - 1)];
  return column == 0 ? r.Value : r.Duration;
}

TFaults TCyclogramTable::Typed(const TCustomRegister& node, int row, int column, const QString& text) {
  if (row < 1 || row > PointCount()) return {};
  TCyclogramRow& r = rows_[static_cast<size_t>(row - 1)];
  (column == 0 ? r.Value : r.Duration) = text;
  if (text.isEmpty()) return {};
  if (column == 0) return row == current_ ? ValueWarning(node, text) : TFaults();
  return DurationWarning(text);
}

TFaults TCyclogramTable::Add() {
  enabled_ = true;
  if (RowCount() >= kCyclogramMaxRows) return TFaults(kCyclogramFullText, TMsgIcon::Warning);
  rows_.push_back({QStringLiteral("0"), QStringLiteral("0")});
  current_ = mark_ = PointCount();
  return {};
}

TFaults TCyclogramTable::Insert() {
  enabled_ = true;
  if (RowCount() >= kCyclogramMaxRows) return TFaults(kCyclogramFullText, TMsgIcon::Warning);
  if (rows_.empty()) return Add();
  const int at = std::clamp(current_, 1, PointCount());
  rows_.insert(rows_.begin() + (at - 1), {QStringLiteral("0"), QStringLiteral("0")});
  current_ = mark_ = at;
  return {};
}

void TCyclogramTable::Remove() {
  if (current_ < 1 || current_ > PointCount()) return;
  rows_.erase(rows_.begin() + (current_ - 1));
  current_ = mark_ = std::min(current_, PointCount());
  if (rows_.empty()) enabled_ = false;
}

TCyclogramPoints TCyclogramTable::Points() const {
  TCyclogramPoints points;
  qint64 time = 0;
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (r > 0) time += StrToInt(rows_[r].Duration).value_or(0);
    points.Times.push_back(time);
    points.Values.push_back(StrToFloat(rows_[r].Value).value_or(0.0));
  }
  return points;
}

TValueAxis TCyclogramTable::Axis(const TCommandNode& node, int height, int minTickGap) const {
  return TValueAxis::Fit(Points().Values, height, node.YScale(), minTickGap);
}

bool TCyclogramTable::FitTime(TCommandNode& node, int plotWidth) const {
  const TCyclogramPoints points = Points();
  const qint64 span = points.Times.empty() ? 0 : points.Times.back();
  if (span <= 0 || plotWidth <= 1) return false;
  // The last point one pixel inside the edge, so that it is drawn and not clipped; nudged up where
  // the division falls short of that column by a rounding (columns are truncated).
  const auto seconds = static_cast<double>(span);
  double scale = static_cast<double>(plotWidth - 1) / seconds;
  while (std::trunc(seconds * scale) < plotWidth - 1) scale = std::nextafter(scale, plotWidth);
  SetTimeScale(node, scale);
  return true;
}

TCyclogramGraph TCyclogramTable::Graph(const TCommandNode& node, int width, int height, int left,
                                       int minTickGap, int bottom, int minTimeGap) const {
  const TCyclogramPoints points = Points();
  TCyclogramGraph graph;
  graph.PlotHeight = std::max(0, height - bottom);
  graph.Axis = TValueAxis::Fit(points.Values, graph.PlotHeight, node.YScale(), minTickGap);
  graph.ZeroY = graph.Axis.ZeroY();
  const double xScale = node.XScale();

  // A damaged scale (none, negative, not a number) draws no time labels rather than endless ones.
  if (xScale > 0 && std::isfinite(xScale) && width > left) {
    const double step = std::max(1.0, RoundStep(std::max(1, minTimeGap) / xScale));
    const double last = (width - left) / xScale;
    for (int k = 0; k * step <= last && k < 1000; ++k) {
      const double t = k * step;
      graph.TimeTicks.push_back({static_cast<qint64>(t), left + Pixel(t * xScale), TickText(t, step)});
    }
  }

  if (mark_ >= 1 && mark_ <= PointCount()) {
    const int x = left + Pixel(static_cast<double>(points.Times[static_cast<size_t>(mark_ - 1)]) * xScale);
    if (x < width) graph.MarkX = x;
  }

  for (size_t r = 0; r < points.Times.size(); ++r) {
    int x = left + Pixel(static_cast<double>(points.Times[r]) * xScale);
    int y = graph.Axis.Y(points.Values[r]);
    if (r > 0 && x > width) {
      const QPoint prev = graph.Line.back();
      const qint64 span = static_cast<qint64>(x) - prev.x();
      if (span > 0)
        y = prev.y() + static_cast<int>((static_cast<qint64>(y) - prev.y()) * (width - prev.x()) / span);
      else
        y = prev.y();
      x = width;
    }
    graph.Line.emplace_back(x, y);
  }
  return graph;
}

}  // namespace vexa
