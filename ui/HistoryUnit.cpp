#include "ui/HistoryUnit.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
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
#include "ui/parts/DialogButtons.h"
#include "ui/parts/FileDialogs.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"
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

// Short, so that the span bar shows it whole at the window's width.
QString SpanText(int64_t since, int64_t until) {
  const QString format = QStringLiteral("dd.MM.yy HH:mm");
  return QStringLiteral("%1 — %2").arg(QDateTime::fromMSecsSinceEpoch(since).toString(format),
                                       QDateTime::fromMSecsSinceEpoch(until).toString(format));
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

  // The span: the register's recent reads, or one of the historian's.
  spanBar_ = new QToolBar(this);
  spanBar_->setObjectName(QStringLiteral("spanBar"));
  spanBar_->setFixedHeight(kSpanBarHeight);
  spanBox_ = new QComboBox(spanBar_);
  spanBox_->setObjectName(QStringLiteral("spanBox"));
  spanBox_->addItems(HistorySpanTexts());
  spanBox_->setToolTip(QStringLiteral("Промежуток"));
  spanBox_->setFocusPolicy(Qt::StrongFocus);
  spanBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  spanBar_->addWidget(spanBox_);
  exportAction_ = spanBar_->addAction(QStringLiteral("CSV…"));
  exportAction_->setObjectName(QStringLiteral("exportAction"));
  exportAction_->setToolTip(QStringLiteral("Экспорт промежутка в файл CSV"));
  exportAction_->setEnabled(false);
  connect(spanBox_, &QComboBox::activated, this, &THistoryForm::ChooseSpan);
  connect(exportAction_, &QAction::triggered, this, &THistoryForm::ExportBand);
  layout->addWidget(spanBar_);

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
  if (span_ != THistorySpan::Recent) {
    // A span that ends now moves on with the clock; the operator's own stays as chosen.
    if (span_ != THistorySpan::Custom) ReadBand();
    return;
  }
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

int THistoryForm::ChartWidth() const {
  return span_ == THistorySpan::Recent ? kChartWidth : std::max(1, ScrollBox->viewport()->width());
}

void THistoryForm::ChooseSpan(int index) {
  const auto span = static_cast<THistorySpan>(std::clamp(index, 0, static_cast<int>(THistorySpan::Custom)));
  if (span == THistorySpan::Custom && !AskCustomSpan()) {
    spanBox_->setCurrentIndex(static_cast<int>(span_));
    return;
  }
  span_ = span;
  bandCursor_ = -1;
  exportAction_->setEnabled(span_ != THistorySpan::Recent);
  if (span_ == THistorySpan::Recent) {
    band_ = {};
    CopyData();
    visible_ = vexa::VisibleCount(history_, kChartWidth);
    cursor_.FollowNewest(history_, visible_);
    scrollPending_ = true;
  } else {
    ReadBand();
  }
  FitChart();
  Chart->setFocus();
}

bool THistoryForm::AskCustomSpan() {
  QDialog dialog(this);
  dialog.setObjectName(QStringLiteral("spanDialog"));
  dialog.setWindowTitle(QStringLiteral("Промежуток"));
  const QDateTime now = QDateTime::currentDateTime();
  const QString format = FormatSettings().ShortDateFormat + QStringLiteral(" HH:mm");
  auto* since =
      new QDateTimeEdit(customSince_ > 0 ? QDateTime::fromMSecsSinceEpoch(customSince_) : now.addDays(-1));
  auto* until = new QDateTimeEdit(customUntil_ > 0 ? QDateTime::fromMSecsSinceEpoch(customUntil_) : now);
  since->setObjectName(QStringLiteral("sinceEdit"));
  until->setObjectName(QStringLiteral("untilEdit"));
  for (QDateTimeEdit* edit : {since, until}) {
    edit->setDisplayFormat(format);
    edit->setCalendarPopup(true);
  }
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("С:"), since);
  form->addRow(QStringLiteral("По:"), until);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addLayout(OkCancelRow(&dialog, ok, cancel));
  // A span that ends before it starts cannot be drawn.
  const auto check = [=] { ok->setEnabled(since->dateTime() < until->dateTime()); };
  connect(since, &QDateTimeEdit::dateTimeChanged, &dialog, check);
  connect(until, &QDateTimeEdit::dateTimeChanged, &dialog, check);
  connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  check();
  if (dialog.exec() != QDialog::Accepted) return false;
  customSince_ = since->dateTime().toMSecsSinceEpoch();
  customUntil_ = until->dateTime().toMSecsSinceEpoch();
  return true;
}

void THistoryForm::ReadBand() {
  if (reg_ == nullptr || !mainForm_) return;
  const int64_t now = QDateTime::currentMSecsSinceEpoch();  // the historian keeps UTC instants
  const int64_t since = span_ == THistorySpan::Custom ? customSince_ : now - HistorySpanMs(span_);
  const int64_t until = span_ == THistorySpan::Custom ? customUntil_ : now;
  band_ = ReadHistoryBand(mainForm_->Network().Dir(), reg_->Name(), since, until, ChartWidth(), now);
  visible_ = static_cast<int>(band_.Mean.size());
  Redraw();
}

void THistoryForm::ExportBand() {
  if (span_ == THistorySpan::Recent || reg_ == nullptr) return;
  const QString suggested = QDir(mainForm_ ? mainForm_->Network().Dir() : QDir::homePath())
                                .filePath(reg_->Name() + QStringLiteral(".csv"));
  QString path;
  if (AskExportPath) {
    path = AskExportPath(suggested);
  } else {
    QFileDialog dialog(this, QStringLiteral("Экспорт истории"), suggested);
    PrepareFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Файлы CSV (*.csv)"), QStringLiteral("Все файлы (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      path = dialog.selectedFiles().constFirst();
  }
  if (path.isEmpty()) return;
  ShowFaults(ExportHistoryBand(band_, path));
}

// The chart is as high as the scroll box; the scroll box is laid out only once the window is. A
// historian's span fits its width.
void THistoryForm::FitChart() {
  const QSize box = ScrollBox->viewport()->size();
  if (span_ != THistorySpan::Recent && box.width() > 0 &&
      static_cast<int>(band_.Mean.size()) != box.width()) {
    FitBand(band_, box.width());
    visible_ = box.width();
  }
  Chart->resize(ChartWidth(), box.height());
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
  if (span_ == THistorySpan::Recent)
    cursor_.Place(history_, visible_, x);
  else
    bandCursor_ = x;
  Chart->repaint();
}

int THistoryForm::MinTickGap() const {
  return fontMetrics().height() * 3 / 2 + 4;
}

TValueAxis THistoryForm::Axis() const {
  const double zoom = reg_ != nullptr ? reg_->YScale() : 1.0;
  if (span_ != THistorySpan::Recent) return BandAxis(band_, Chart->height(), zoom, MinTickGap());
  return HistoryAxis(history_, visible_, Chart->height(), zoom, MinTickGap());
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
  const bool band = span_ != THistorySpan::Recent;
  visible_ = band ? static_cast<int>(band_.Mean.size()) : vexa::VisibleCount(history_, kChartWidth);
  const int width = ChartWidth();
  const TValueAxis axis = Axis();
  const std::vector<double>& values = band ? band_.Mean : history_.Values;

  painter.fillRect(0, 0, width, height, palette().color(QPalette::Base));
  painter.setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
  for (const TAxisTick& tick : axis.Ticks()) painter.drawLine(0, tick.Y, width, tick.Y);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(0, 0, width - 1, height - 1);
  if (const std::optional<int> zero = axis.ZeroY()) painter.drawLine(0, *zero, width, *zero);
  const int cursor = Cursor();
  painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
  painter.drawLine(cursor, 0, cursor, height);
  if (cursor >= 0 && cursor < visible_) {
    const double value = values[static_cast<size_t>(cursor)];
    if (!std::isnan(value)) painter.drawLine(0, axis.Y(value), width, axis.Y(value));
  }
  const THistoryReadout readout = band ? BandReadout(band_, cursor, reg_ != nullptr ? reg_->Digits() : 2)
                                       : Readout(history_, cursor, visible_);
  dateLabel_->setText(readout.Date);
  timeLabel_->setText(readout.Time);
  valueLabel_->setText(readout.Value);

  // A historian's band: each column from its least to its greatest value, under the mean.
  if (band) {
    painter.setPen(QPen(QColor(160, 190, 255), 1));
    for (int i = 0; i < visible_; ++i) {
      const auto x = static_cast<size_t>(i);
      if (!std::isnan(band_.Min[x])) painter.drawLine(i, axis.Y(band_.Max[x]), i, axis.Y(band_.Min[x]));
    }
  }
  // The curve, broken where a read failed.
  painter.setPen(QPen(QColor(0, 0, 255), 1));
  QPolygon run;
  const auto flush = [&] {
    if (run.size() == 1) painter.drawPoint(run.first());
    if (run.size() > 1) painter.drawPolyline(run);
    run.clear();
  };
  for (int i = 0; i < visible_; ++i) {
    const double value = values[static_cast<size_t>(i)];
    if (std::isnan(value)) {
      flush();
      continue;
    }
    run << QPoint(i, axis.Y(value));
  }
  flush();
  if (band) {
    // Over the curve: the span's ends in the corner; what kept the historian from answering in the middle.
    const QString ends = SpanText(band_.Since, band_.Until);
    const QRect corner(3, 2, painter.fontMetrics().horizontalAdvance(ends) + 4,
                       painter.fontMetrics().height());
    painter.fillRect(corner, palette().color(QPalette::Base));
    painter.setPen(QColor(110, 110, 110));
    painter.drawText(corner, Qt::AlignCenter, ends);
    if (!band_.Error.isEmpty())
      painter.drawText(QRect(0, 0, width, height), Qt::AlignCenter | Qt::TextWordWrap, band_.Error);
  }
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
