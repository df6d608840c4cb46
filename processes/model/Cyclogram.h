#pragma once
// The cyclogram editor without its window: the table of points as the grid shows it (a header row,
// then one row per point with its value and duration texts), its row commands and the warnings
// while typing, and the graph's arithmetic (accumulated times, the value axis, zoom, clipping).

#include <QPoint>
#include <QString>
#include <optional>
#include <vector>

#include "core/Faults.h"
#include "processes/model/ValueAxis.h"

namespace vexa {

class TCommandNode;
class TCustomRegister;

// Grid rows with the header row: 255 points at most.
inline constexpr int kCyclogramMaxRows = 256;
inline const QString kCyclogramFullText = QStringLiteral("Емкость таблицы исчерпана!");

// Header texts of the value and duration columns.
QString CyclogramHeader(int column);

struct TCyclogramRow {
  QString Value;
  QString Duration;
};

// The points as the graph takes them, one per data row: the start time of each point in seconds
// after point 0 (the first row's duration is ignored) and its value; a text that does not convert
// counts as 0.
struct TCyclogramPoints {
  std::vector<qint64> Times;  // 64 bits: 255 durations of up to 2^31 s
  std::vector<double> Values;
};

// What the graph draws for a width and a height in pixels: the value axis (the points' band over
// the height, its ticks, the zero line's row when 0 is in it), the dotted mark's column (none when
// the mark is right of the graph or there are no points), and the blue polyline (the first point a
// move-to) from the plot's left edge, with points beyond the right edge clipped to it.
// A mark of the time axis: seconds after point 0, its column, and its label.
struct TTimeTick {
  qint64 Seconds = 0;
  int X = 0;
  QString Text;
};

// The time axis below the plot is labelled as the value axis is: round steps (1, 2 or 5 times a
// power of ten seconds, a second at least) far enough apart for their labels, from 0 to the right
// edge.
struct TCyclogramGraph {
  TValueAxis Axis;
  int PlotHeight = 0;  // the rows above the time axis' labels
  std::vector<TTimeTick> TimeTicks;
  std::optional<int> ZeroY;
  std::optional<int> MarkX;
  std::vector<QPoint> Line;
};

// The editor's zoom buttons: "Сжать по горизонтали", "Увеличить", "Уменьшить", "Растянуть по
// горизонтали".
enum class TCyclogramZoom { CompressX, ZoomIn, ZoomOut, ExpandX };
// Applied to the node at once: its XScale (pixels per second) and YScale (the value axis' zoom from
// the fit, 1 the fit) are its zoom state and are stored with it.
void ZoomCyclogram(TCommandNode& node, TCyclogramZoom zoom);

// Grid rows are numbered as the grid numbers them: 0 the header, 1..PointCount() the points.
class TCyclogramTable {
 public:
  // One row per Points entry, its value from DataList (a surplus of DataList is dropped, a missing
  // value is empty). The last row is current and marked; with no point the grid is disabled.
  void Load(const TCommandNode& node);
  // DataList and Points from the rows, unchecked; the node counts as changed.
  void Store(TCommandNode& node) const;

  int RowCount() const { return static_cast<int>(rows_.size()) + 1; }
  int PointCount() const { return static_cast<int>(rows_.size()); }
  bool Enabled() const { return enabled_; }
  // The current row (0 with no point) and the row whose time the dotted line marks.
  int CurrentRow() const { return current_; }
  int MarkRow() const { return mark_; }
  // Selecting a cell makes its row current and marked.
  void Select(int row);

  // The cell's text; the header texts on row 0.
  QString Cell(int row, int column) const;
  // New text for a data cell, kept whatever it is; a warning for a doubtful one (values only when
  // typed in the current row).
  TFaults Typed(const TCustomRegister& node, int row, int column, const QString& text);

  // "Добавить запись": a row "0", "0" at the end, made current. At the limit nothing is added, and
  // the warning says so.
  TFaults Add();
  // "Вставить запись": a row "0", "0" before the current one, which it becomes; Add without points.
  TFaults Insert();
  // "Удалить запись": removes the current row; the row that takes its place (or the new last one)
  // becomes current. Without points the grid is disabled.
  void Remove();

  TCyclogramPoints Points() const;
  // The value axis of the points on a graph `height` pixels high, zoomed by the node's YScale.
  TValueAxis Axis(const TCommandNode& node, int height, int minTickGap = 24) const;
  // The graph laid out with its time axis starting `left` pixels in (room for the value labels) and
  // `bottom` rows kept below the plot for the time labels, at least `minTimeGap` pixels apart.
  TCyclogramGraph Graph(const TCommandNode& node, int width, int height, int left = 0, int minTickGap = 24,
                        int bottom = 0, int minTimeGap = 48) const;
  // Sets the node's XScale so that the whole programme spans a plot `plotWidth` pixels wide, as the
  // editor shows it on opening. A programme without a span (one point, or none, or durations of 0)
  // keeps its scale, and the answer is false.
  bool FitTime(TCommandNode& node, int plotWidth) const;

 private:
  std::vector<TCyclogramRow> rows_;  // grid row r is rows_[r - 1]
  int current_ = 0;
  int mark_ = 0;
  bool enabled_ = false;
};

}  // namespace vexa
