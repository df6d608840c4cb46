#pragma once
// TCycloEditForm: the cyclogram editor. It edits the points of one command node of a process
// template in a table (value, duration in seconds) beside the graph of the resulting ramps, and
// asks on closing whether to keep the changes. The table's rules and the graph's arithmetic are
// the model's (processes/model/Cyclogram.h); the window only shows them.

#include <QDialog>
#include <QWidget>

#include "processes/model/Cyclogram.h"
#include "ui/parts/HelpUnit.h"

class QAction;
class QSplitter;
class QTableWidget;
class QToolBar;

namespace vexa {

class TNetwork;

class TCommandNode;
class TSession;
class TCycloEditForm;

// The graph beside the table.
class TCyclogramView : public QWidget {
  Q_OBJECT
 public:
  explicit TCyclogramView(TCycloEditForm& form);
  // What was drawn last, for the tests and the picture of the help.
  const TCyclogramGraph& LastGraph() const { return graph_; }
  // The columns the value labels take on the left; the time axis starts after them.
  int LabelRoom() const;
  // The rows the time labels take below the plot.
  int TimeRow() const { return fontMetrics().height() + 2; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The fewest pixels between two value ticks, and between two time ticks.
  int ValueGap() const;
  int TimeGap() const;

  TCycloEditForm& form_;
  TCyclogramGraph graph_;
};

class TCycloEditForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcCyclogram;
  static constexpr int kColumnWidth = 64;
  static constexpr int kRowHeight = 16;
  static constexpr int kMinGridWidth = 165;
  static constexpr int kMinWidth = 360;
  static constexpr int kMinHeight = 120;

  explicit TCycloEditForm(TNetwork& network, TSession* session = nullptr, QWidget* parent = nullptr);
  ~TCycloEditForm() override;

  // The command node to edit, handed over before the window is shown.
  void SetNode(TCommandNode* node);
  TCommandNode* Node() const { return node_; }
  const TCyclogramTable& Table() const { return table_; }

  // Closing asks whether to keep the changes; Cancel keeps the window open.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Zoom(TCyclogramZoom zoom);
  // The grid as the table is now, its current row the table's.
  void FillGrid();
  void CellTyped(int row, int column);
  void CurrentCellChanged(int row);
  void UpdateSpacer();
  // The programme fitted to the graph's width; false while it has no span to fit.
  bool FitTime();

  TCommandNode* node_ = nullptr;
  TCyclogramTable table_;
  bool filling_ = false;  // the grid's own changes are no typing
  // Opened without a span (a new programme): fitted once its durations give it one.
  bool fitPending_ = false;
  QToolBar* toolBar_ = nullptr;
  QAction* compressXAction_ = nullptr;
  QAction* zoomInAction_ = nullptr;
  QAction* zoomOutAction_ = nullptr;
  QAction* expandXAction_ = nullptr;
  QAction* addAction_ = nullptr;
  QAction* insertAction_ = nullptr;
  QAction* deleteAction_ = nullptr;
  QWidget* spacer_ = nullptr;
  QSplitter* splitter_ = nullptr;
  TCyclogramView* graph_ = nullptr;
  // The points; table row r is the model's row r + 1 (the header is the table's own).
  QTableWidget* grid_ = nullptr;
  TNetwork& network_;
};

}  // namespace vexa
