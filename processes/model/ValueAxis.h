#pragma once
// The value axis of a chart, shared by the cyclogram editor's graph and a label's history chart: the
// band of the values (lowest to highest with a tenth of their span as margin on either side; a flat
// series centred) fitted to the chart's height, zoomed around the band's centre, with ticks at round
// values (1, 2 or 5 times a power of ten) far enough apart for their labels.

#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace vexa {

struct TAxisTick {
  double Value = 0;
  int Y = 0;
  QString Text;  // in the regional number format
};

class TValueAxis {
 public:
  // A stored zoom (a node's YScale: 1 the fit, 2 twice as tall) as it is used: within
  // kMinZoom..kMaxZoom, and 1 for a value that is no positive number (a damaged file).
  static constexpr double kMinZoom = 1.0 / 64;
  static constexpr double kMaxZoom = 1024;
  static double Zoom(double stored);
  // The zoom after a zoom button (factor 2 or 0.5), kept within the limits.
  static double Zoomed(double stored, double factor);

  // Fits the finite values to a chart `height` pixel rows high (row 0 at the top); NaN marks a
  // gap and is skipped. minTickGap: the fewest pixels between two ticks.
  static TValueAxis Fit(std::span<const double> values, int height, double zoom, int minTickGap = 24);

  // Whether any value was fitted; with none the band is -1..1 and there are no ticks.
  bool HasValues() const { return hasValues_; }
  // The values at the top and bottom rows.
  double Top() const { return top_; }
  double Bottom() const { return bottom_; }
  double Step() const { return step_; }
  // The pixel row of a value, rounded to the nearest (halves to even), bounded so that a value far
  // off the chart still draws.
  int Y(double value) const;
  // The row of the value 0 when it lies on the chart.
  std::optional<int> ZeroY() const;
  const std::vector<TAxisTick>& Ticks() const { return ticks_; }

 private:
  int height_ = 0;
  bool hasValues_ = false;
  double centre_ = 0;
  double half_ = 1;  // half the shown band, zoom applied
  double top_ = 1;
  double bottom_ = -1;
  double step_ = 0;
  std::vector<TAxisTick> ticks_;
};

// The smallest of 1, 2 and 5 times a power of ten that is at least `at_least` (> 0).
double RoundStep(double atLeast);
// A tick's label: as many decimals as the step needs, in the regional number format.
QString TickText(double value, double step);

}  // namespace vexa
