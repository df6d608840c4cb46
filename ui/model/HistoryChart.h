#pragma once
// The rules of a register's history chart: one pixel per sample, a value axis fitted to the samples,
// and the cursor with the read-out of its sample. No widgets: the history window draws what these
// compute.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "processes/model/ValueAxis.h"

namespace vexa {

class TCustomRegister;

// A snapshot of a register's history: the time texts and the values as the chart uses them.
struct THistorySnapshot {
  QStringList Times;
  QStringList Texts;
  std::vector<double> Values;  // Texts read as numbers; NaN for a text that is none (a failed read)

  static THistorySnapshot Of(const TCustomRegister& reg);
};

// The chart's value axis over the first `visible` samples on a chart `height` pixels high: the
// samples' band fills the height, gaps skipped, zoomed by yScale (the register's YScale: 1 the fit).
TValueAxis HistoryAxis(const THistorySnapshot& history, int visible, int height, double yScale,
                       int minTickGap = 24);

// The read-out cursor: an x on the chart, which is a sample's index where there is one. On the
// newest sample it follows the samples as they arrive; on another it stays on that sample's time,
// as older samples drop off the front of a full history.
class THistoryCursor {
 public:
  int X() const { return x_; }
  bool OnNewest() const { return onNewest_; }
  // Shown: on the newest sample, or at -1 (nothing) while there is none, following what comes.
  void FollowNewest(const THistorySnapshot& history, int visible);
  // Moved by the operator to x.
  void Place(const THistorySnapshot& history, int visible, int x);
  // A new snapshot: the newest sample, or the same sample, or (when that one has dropped off) the
  // oldest; an x without a sample stays where it is.
  void Follow(const THistorySnapshot& history, int visible);

 private:
  // How many samples dropped off the front since `times_`, telling the cursor's own sample from
  // another of the same time text (the clock went back); none found when the two do not line up.
  std::optional<int> Dropped(const QStringList& times) const;

  int x_ = -1;
  bool onNewest_ = true;
  QString time_;       // the time text of the sample under the cursor; empty for none
  QStringList times_;  // the time texts when the cursor was last placed (shared, not copied)
};

struct THistoryReadout {
  QString Date = QStringLiteral(" ");
  QString Time = QStringLiteral(" ");
  QString Value = QStringLiteral(" ");
};

// The three read-outs of sample `cursor`, or single spaces when it is not drawn. A time text in
// another regional format than the program's is shown in the program's.
THistoryReadout Readout(const THistorySnapshot& history, int cursor, int visible);

// Number of samples drawn on a chart `width` pixels wide.
int VisibleCount(const THistorySnapshot& history, int width);

}  // namespace vexa
