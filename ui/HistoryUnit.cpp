#include "ui/HistoryUnit.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Services.h"
#include "storage/NetDescription.h"
#include "ui/HistoryChart.h"
#include "ui/LabelViews.h"
#include "ui/MainUnit.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

// A read-out box of at least `width` pixels, wider where this system's font needs more for `sample`.
QLabel* MakeReadout(QToolBar* bar, int width, const QString& sample, const QString& hint) {
  auto* box = new QLabel(QStringLiteral(" "), bar);
  box->setFrameStyle(QFrame::Box | QFrame::Plain);
  box->setLineWidth(1);
  box->setFixedSize(std::max(width, box->fontMetrics().horizontalAdvance(sample) + 6), 18);
  box->setToolTip(hint);
  box->setAutoFillBackground(true);
  bar->addWidget(box);
  return box;
}

}  // namespace

// ---- THistoryForm -------------------------------------------------------------------------------

THistoryForm::THistoryForm(TRegisterNode* reg, TLabelDisplay* label, TMainForm* mainForm)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      reg_(reg),
      label_(label),
      mainForm_(mainForm) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("История"));
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kMinClientWidth, kMinClientHeight);
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window
  InstallHelpShortcut(this, kHelpContext);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ToolBar = new QToolBar(this);
  ToolBar->setObjectName(QStringLiteral("toolBar"));
  ToolBar->setFixedHeight(kToolBarHeight);
  ToolBar->setIconSize(QSize(16, 16));
  zoomInAction_ =
      ToolBar->addAction(ImageIcon(ImageIndexOf(QStringLiteral("ZOOMIN"))), QStringLiteral("Увеличить"));
  zoomOutAction_ =
      ToolBar->addAction(ImageIcon(ImageIndexOf(QStringLiteral("ZOOMOUT"))), QStringLiteral("Уменьшить"));
  zoomInAction_->setObjectName(QStringLiteral("zoomInAction"));
  zoomOutAction_->setObjectName(QStringLiteral("zoomOutAction"));
  connect(zoomInAction_, &QAction::triggered, this, [this] { Zoom(2); });
  connect(zoomOutAction_, &QAction::triggered, this, [this] { Zoom(0.5); });
  dateLabel_ = MakeReadout(ToolBar, 69, QStringLiteral(" 00.00.0000 "), QStringLiteral("Дата"));
  timeLabel_ = MakeReadout(ToolBar, 55, QStringLiteral(" 00:00:00"), QStringLiteral("Время"));
  valueLabel_ = MakeReadout(ToolBar, 55, QStringLiteral(" -0000,00"), QStringLiteral("Значение"));
  dateLabel_->setObjectName(QStringLiteral("dateLabel"));
  timeLabel_->setObjectName(QStringLiteral("timeLabel"));
  valueLabel_->setObjectName(QStringLiteral("valueLabel"));
  layout->addWidget(ToolBar);

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  AxisLabels = new THistoryAxis(*this);
  AxisLabels->setObjectName(QStringLiteral("axis"));
  AxisLabels->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("-0,00")) + 8);
  row->addWidget(AxisLabels);
  ScrollBox = new QScrollArea(this);
  ScrollBox->setObjectName(QStringLiteral("scrollBox"));
  ScrollBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ScrollBox->setFocusPolicy(Qt::NoFocus);
  Chart = new THistoryChart(*this);
  Chart->setObjectName(QStringLiteral("chart"));
  Chart->resize(kChartWidth, 100);
  ScrollBox->setWidget(Chart);
  ScrollBox->viewport()->installEventFilter(this);
  row->addWidget(ScrollBox, 1);
  layout->addLayout(row, 1);
  setFocusProxy(Chart);

  SetRepeatTimer(std::make_unique<TQtRepeatTimer>());
}

THistoryForm::~THistoryForm() = default;

void THistoryForm::SetRepeatTimer(std::unique_ptr<TRepeatTimer> timer) {
  if (timer_) timer_->Stop();
  timer_ = std::move(timer);
  timer_->OnTimer = [this] { Tick(); };
}

void THistoryForm::CopyData() {
  // The copy is told only while polling runs; with the poller stopped (the network settings window)
  // the status line keeps saying so.
  const bool polling = mainForm_ && mainForm_->Network().PollerRunning();
  if (polling) ShowProgramState(QStringLiteral("Копирование данных"));
  history_ = reg_ != nullptr ? THistorySnapshot::Of(*reg_) : THistorySnapshot{};
  if (polling) ShowProgramState(kStateWorking);  // the poller's state it found
}

void THistoryForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  CopyData();
  visible_ = vexa::VisibleCount(history_, kChartWidth);
  cursor_.FollowNewest(history_, visible_);
  scrollPending_ = true;
  FitChart();
  if (reg_ != nullptr) setWindowTitle(NodeFullName(*reg_));
  // With no logging interval the register is never read again: the chart stays the snapshot.
  const int interval = reg_ != nullptr ? reg_->LoggingInterval() : 0;
  if (interval > 0) {
    timer_->SetInterval(interval * 1000);
    timer_->Start();
  }
  for (QLabel* box : {dateLabel_, timeLabel_, valueLabel_}) {
    QPalette p = box->palette();
    p.setColor(QPalette::Window, palette().color(QPalette::Base));
    box->setPalette(p);
  }
  Chart->setFocus();
}

void THistoryForm::Tick() {
  if (reg_ == nullptr) return;
  // The interval follows the register's, which its properties may have changed meanwhile.
  if (reg_->LoggingInterval() > 0) {
    timer_->SetInterval(reg_->LoggingInterval() * 1000);
  } else {
    timer_->Stop();
  }
  if (!isVisible()) return;
  CopyData();
  visible_ = vexa::VisibleCount(history_, kChartWidth);
  cursor_.Follow(history_, visible_);
  Redraw();
  Chart->repaint();
}

bool THistoryForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ScrollBox->viewport() && event->type() == QEvent::Resize) FitChart();
  return QWidget::eventFilter(watched, event);
}

// The chart is as high as the scroll box; the scroll box is laid out only once the window is.
void THistoryForm::FitChart() {
  const QSize box = ScrollBox->viewport()->size();
  Chart->resize(kChartWidth, box.height());
  Redraw();
  if (scrollPending_ && box.height() > 0) {
    ScrollBox->horizontalScrollBar()->setValue(visible_ - box.width() / 2 - 2);
    scrollPending_ = false;
  }
}

void THistoryForm::Zoom(double factor) {
  if (reg_ == nullptr) return;
  // The register keeps the zoom: its next history window starts from it.
  reg_->SetYScale(TValueAxis::Zoomed(reg_->YScale(), factor));
  Redraw();
  Chart->repaint();
}

void THistoryForm::SetCursor(int x) {
  cursor_.Place(history_, visible_, x);
  Chart->repaint();
}

int THistoryForm::MinTickGap() const {
  return fontMetrics().height() * 3 / 2 + 4;
}

TValueAxis THistoryForm::Axis() const {
  return HistoryAxis(history_, visible_, Chart->height(), reg_ != nullptr ? reg_->YScale() : 1.0,
                     MinTickGap());
}

void THistoryForm::Redraw() {
  int widest = 0;
  const TValueAxis axis = Axis();
  for (const TAxisTick& tick : axis.Ticks())
    widest = std::max(widest, AxisLabels->fontMetrics().horizontalAdvance(tick.Text));
  // Grows for longer labels and never shrinks back, so the chart does not jump as values wander.
  const int width = std::max(AxisLabels->width(), widest + 8);
  if (width != AxisLabels->width()) AxisLabels->setFixedWidth(width);
  AxisLabels->update();
  Chart->update();
}

void THistoryForm::PaintChart(QPainter& painter, int height) {
  visible_ = vexa::VisibleCount(history_, kChartWidth);
  const TValueAxis axis = Axis();

  painter.fillRect(0, 0, kChartWidth, height, palette().color(QPalette::Base));
  painter.setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
  for (const TAxisTick& tick : axis.Ticks()) painter.drawLine(0, tick.Y, kChartWidth, tick.Y);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(0, 0, kChartWidth - 1, height - 1);
  if (const std::optional<int> zero = axis.ZeroY()) painter.drawLine(0, *zero, kChartWidth, *zero);
  const int cursor = cursor_.X();
  painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
  painter.drawLine(cursor, 0, cursor, height);
  if (cursor >= 0 && cursor < visible_) {
    const double value = history_.Values[static_cast<size_t>(cursor)];
    if (!std::isnan(value)) painter.drawLine(0, axis.Y(value), kChartWidth, axis.Y(value));
  }
  const THistoryReadout readout = Readout(history_, cursor, visible_);
  dateLabel_->setText(readout.Date);
  timeLabel_->setText(readout.Time);
  valueLabel_->setText(readout.Value);

  // The curve, broken where a read failed.
  painter.setPen(QPen(QColor(0, 0, 255), 1));
  QPolygon run;
  const auto flush = [&] {
    if (run.size() == 1) painter.drawPoint(run.first());
    if (run.size() > 1) painter.drawPolyline(run);
    run.clear();
  };
  for (int i = 0; i < visible_; ++i) {
    const double value = history_.Values[static_cast<size_t>(i)];
    if (std::isnan(value)) {
      flush();
      continue;
    }
    run << QPoint(i, axis.Y(value));
  }
  flush();
}

void THistoryForm::closeEvent(QCloseEvent* event) {
  Forget();
  QWidget::closeEvent(event);
}

void THistoryForm::Forget() {
  // A window that is closing is no longer the label's: the next "История" makes a new one.
  if (mainForm_ && label_ != nullptr && mainForm_->Labels()->HistoryForm(*label_) == this)
    mainForm_->Labels()->SetHistoryForm(*label_, nullptr);
  timer_->Stop();
  reg_ = nullptr;
  label_ = nullptr;
}

THistoryForm* ShowLabelHistory(TMainForm& mainForm, TLabelDisplay& label) {
  TMnemoLabels* labels = mainForm.Labels();
  if (QWidget* open = labels->HistoryForm(label)) {
    open->show();
    open->raise();
    open->activateWindow();
    return qobject_cast<THistoryForm*>(open);
  }
  auto* form = new THistoryForm(dynamic_cast<TRegisterNode*>(label.Owner()), &label, &mainForm);
  labels->SetHistoryForm(label, form);
  mainForm.ShowNearPage(form, label.Left(), label.Top() + label.Height() + 10);
  return form;
}

}  // namespace vexa
