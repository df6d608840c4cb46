#pragma once
// The cyclogram editor without its window: the table of points as the grid shows it (a header row,
// then one row per point with its value and duration texts), its row commands and the warnings
// while typing, and the graph's arithmetic (accumulated times, the vertical fit, zoom, clipping).

#include <QPoint>
#include <QString>
#include <optional>
#include <vector>

namespace vexa {

class TCommandNode;
class TCustomRegister;

// Grid rows with the header row: 255 points at most.
inline constexpr int kCyclogramMaxRows = 256;
inline const QString kCyclogramFullText = QStringLiteral("Емкость таблицы исчерпана!");

// Header texts of the value and duration columns.
QString CyclogramHeader(int column);

// The warnings while typing, or nothing when the text is acceptable.
// A value for the node's register: read-only register, or a value its type cannot take.
std::optional<QString> CyclogramValueWarning(const TCustomRegister& node, const QString& text);
// A duration that is not a (32-bit) integer.
std::optional<QString> CyclogramDurationWarning(const QString& text);

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

// What the graph draws for a width and a height in pixels: the zero line's row, the dotted mark's
// column (none when the mark is right of the graph or there are no points), and the blue polyline
// (the first point a move-to) with points beyond the right edge clipped to it.
struct TCyclogramGraph {
  int ZeroY = 0;
  std::optional<int> MarkX;
  std::vector<QPoint> Line;
};

// The editor's zoom buttons: "Сжать по горизонтали", "Увеличить", "Уменьшить", "Растянуть по
// горизонтали".
enum class TCyclogramZoom { CompressX, ZoomIn, ZoomOut, ExpandX };
// Applied to the node at once: its XScale and YScale are its zoom state and are stored with it.
void ZoomCyclogram(TCommandNode& node, TCyclogramZoom zoom);

// Fits the value axis for a graph `height` pixels high: the zero line's row, and the node's YScale
// doubled when the largest value would be under 4 pixels high, or halved until it is at most 16
// pixels short of the room above (or below) the zero line. Returns ZeroY.
int FitCyclogramVertically(const std::vector<double>& values, int height, TCommandNode& node);

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
  // New text for a data cell, kept whatever it is; a warning for a doubtful one is shown (values
  // only when typed in the current row).
  void Typed(const TCustomRegister& node, int row, int column, const QString& text);

  // "Добавить запись": a row "0", "0" at the end, made current. At the limit the message is shown
  // and nothing is added.
  bool Add();
  // "Вставить запись": a row "0", "0" before the current one, which it becomes; Add without points.
  bool Insert();
  // "Удалить запись": removes the current row; the row that takes its place (or the new last one)
  // becomes current. Without points the grid is disabled.
  void Remove();

  TCyclogramPoints Points() const;
  // Fits the node's YScale (see FitCyclogramVertically) and lays out the graph.
  TCyclogramGraph Graph(TCommandNode& node, int width, int height) const;

 private:
  std::vector<TCyclogramRow> rows_;  // grid row r is rows_[r - 1]
  int current_ = 0;
  int mark_ = 0;
  bool enabled_ = false;
};

}  // namespace vexa
