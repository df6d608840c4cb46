#pragma once
// The rules of a register's history chart: one pixel per sample, a vertical scale that adapts to the
// values, and the read-out of the sample under the cursor. No widgets: the history window draws what
// these compute.

#include <QString>
#include <QStringList>
#include <vector>

namespace vexa {

class TCustomRegister;

// A snapshot of a register's history: the time texts and the values as the chart uses them.
struct THistorySnapshot {
  QStringList Times;
  QStringList Texts;
  std::vector<double> Values;  // Texts read as numbers; 0 for a text that is none

  static THistorySnapshot Of(const TCustomRegister& reg);
};

struct THistoryScale {
  int ZeroLine = 0;
  int Room = 0;
};

// The automatic scale, run before every paint on the first `visible` values of a chart `height`
// pixels high. Changes yScale (a register's YScale, pixels per unit): doubled once when the values
// span fewer than 4 pixels, halved until they fit the room less 16 pixels. A scale that is not a
// positive number (a damaged file) starts again from 1.
THistoryScale AutoScale(const std::vector<double>& values, int visible, int height, double& yScale);

// The y of a value: zeroLine less value x yScale rounded to the nearest pixel, halves to even.
int ChartY(int zeroLine, double value, double yScale);

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
