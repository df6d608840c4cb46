#pragma once
// THistoryForm: the recent history of one register as a line chart, one pixel per sample, with a
// cursor whose sample is read out as date, time and value. It copies the register's history when
// shown and again every logging interval; it never reads the device itself. A span of the historian
// (an hour to a year, or the operator's own) is drawn instead when chosen: fitted to the window's
// width, a band from the least to the greatest value of each pixel column with the mean as a line,
// read again every logging interval while it ends now, and exported as CSV.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "ui/model/HistoryBand.h"
#include "ui/model/HistoryChart.h"
#include "ui/model/RepeatTimer.h"
#include "ui/parts/HelpUnit.h"

class QAction;
class QComboBox;
class QLabel;
class QScrollArea;
class QToolBar;

namespace vexa {

class TLabelDisplay;
class TMainForm;
class TRegisterNode;
class THistoryAxis;
class THistoryChart;

class THistoryForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcHistory;
  static constexpr int kChartWidth = 1210;
  // 408 x 221 and at least 251 x 151 with a sizeable tool window's frame and caption.
  static constexpr int kClientWidth = 400;
  static constexpr int kClientHeight = 194;
  static constexpr int kMinClientWidth = 243;
  static constexpr int kMinClientHeight = 124;
  static constexpr int kToolBarHeight = 30;
  static constexpr int kSpanBarHeight = 26;

  // The window shows reg's history; it is the history window of label (either may be null).
  THistoryForm(TRegisterNode* reg, TLabelDisplay* label, TMainForm* mainForm);
  ~THistoryForm() override;

  TRegisterNode* Register() const { return reg_; }
  TLabelDisplay* Label() const { return label_; }
  const THistorySnapshot& History() const { return history_; }
  THistorySpan Span() const { return span_; }
  // What the historian gave for the span shown; empty while the recent history is shown.
  const THistoryBand& Band() const { return band_; }
  int Cursor() const { return span_ == THistorySpan::Recent ? cursor_.X() : bandCursor_; }
  int VisibleCount() const { return visible_; }
  int ChartWidth() const;
  // The export's file, asked with Qt's own dialog unless tests set it; empty: not exported.
  std::function<QString(const QString& suggested)> AskExportPath;
  // The value axis as the chart is drawn now: the samples' band over the chart's height.
  TValueAxis Axis() const;
  TRepeatTimer& Timer() const { return *timer_; }
  // Tests drive the refresh with their own timer.
  void SetRepeatTimer(std::unique_ptr<TRepeatTimer> timer);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class THistoryChart;
  friend class THistoryAxis;
  void CopyData();
  void Tick();
  void ChooseSpan(int index);
  // The custom span's two ends from the operator; false when cancelled.
  bool AskCustomSpan();
  void ReadBand();
  void ExportBand();
  void Zoom(double factor);
  void SetCursor(int x);
  void PaintChart(QPainter& painter, int height);
  void Forget();
  void FitChart();
  // After a change of the samples, the zoom or the height: the labels' room, and both repainted.
  void Redraw();
  int MinTickGap() const;

  QToolBar* ToolBar = nullptr;
  QAction* zoomInAction_ = nullptr;
  QAction* zoomOutAction_ = nullptr;
  QLabel* dateLabel_ = nullptr;
  QLabel* timeLabel_ = nullptr;
  QLabel* valueLabel_ = nullptr;
  QToolBar* spanBar_ = nullptr;
  QComboBox* spanBox_ = nullptr;
  QAction* exportAction_ = nullptr;
  QScrollArea* ScrollBox = nullptr;
  THistoryAxis* AxisLabels = nullptr;
  THistoryChart* Chart = nullptr;
  TRegisterNode* reg_;
  TLabelDisplay* label_;
  QPointer<TMainForm> mainForm_;
  THistorySnapshot history_;
  int visible_ = 0;
  THistoryCursor cursor_;
  THistorySpan span_ = THistorySpan::Recent;
  THistoryBand band_;
  int bandCursor_ = -1;
  int64_t customSince_ = 0;  // the operator's own span, UTC epoch ms
  int64_t customUntil_ = 0;
  bool scrollPending_ = false;  // the first layout after show scrolls to the newest sample
  std::unique_ptr<TRepeatTimer> timer_;
};

// The label's history window: brought to the front when it has one, else made and shown below the
// label. The window closes itself when the label goes.
THistoryForm* ShowLabelHistory(TMainForm& mainForm, TLabelDisplay& label);

}  // namespace vexa
