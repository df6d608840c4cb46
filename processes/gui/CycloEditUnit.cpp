#include "processes/gui/CycloEditUnit.h"

#include <QAction>
#include <QHeaderView>
#include <QPainter>
#include <QShowEvent>
#include <QSplitter>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "core/Network.h"
#include "core/Services.h"
#include "processes/model/CommandNode.h"
#include "storage/TreeFiles.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

// ---- TCyclogramView ------------------------------------------------------------------------------

TCyclogramView::TCyclogramView(TCycloEditForm& form) : QWidget(&form), form_(form) {
  setObjectName(QStringLiteral("graph"));
}

void TCyclogramView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width();
  const int h = height();
  p.fillRect(rect(), palette().color(QPalette::Window));
  if (form_.Node() != nullptr) {
    const int left = LabelRoom();
    const int bottom = TimeRow();
    graph_ = form_.Table().Graph(*form_.Node(), w, h, left, ValueGap(), bottom, TimeGap());
    const int plot = graph_.PlotHeight;
    const int textHeight = fontMetrics().height();
    for (const TAxisTick& tick : graph_.Axis.Ticks()) {
      p.setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
      p.drawLine(left, tick.Y, w, tick.Y);
      p.setPen(palette().color(QPalette::WindowText));
      const int y = std::clamp(tick.Y - textHeight / 2, 1, std::max(1, plot - 1 - textHeight));
      p.drawText(QRect(0, y, left - 4, textHeight), Qt::AlignRight | Qt::AlignVCenter, tick.Text);
    }
    for (const TTimeTick& tick : graph_.TimeTicks) {
      p.setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
      p.drawLine(tick.X, 0, tick.X, plot);
      p.setPen(palette().color(QPalette::WindowText));
      // Centred under its mark, kept inside the frame.
      const int width = fontMetrics().horizontalAdvance(tick.Text);
      const int x = std::clamp(tick.X - width / 2, 2, std::max(2, w - 2 - width));
      p.drawText(QRect(x, plot + 1, width, textHeight), Qt::AlignCenter, tick.Text);
    }
    p.setPen(QPen(Qt::black, 1));
    if (left > 0) p.drawLine(left, 0, left, plot);
    p.drawLine(left, plot, w, plot);
    if (graph_.MarkX) {
      p.setPen(QPen(Qt::black, 1, Qt::DotLine));
      p.drawLine(*graph_.MarkX, 0, *graph_.MarkX, plot);
    }
    p.setPen(QPen(Qt::black, 1));
    if (graph_.ZeroY) p.drawLine(left, *graph_.ZeroY, w, *graph_.ZeroY);
    if (graph_.Line.size() > 1) {
      p.setPen(QPen(Qt::blue, 1));
      p.drawPolyline(graph_.Line.data(), static_cast<int>(graph_.Line.size()));
    }
  }
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(0, 0, w - 1, h - 1);
}

int TCyclogramView::ValueGap() const {
  return fontMetrics().height() * 3 / 2 + 4;
}

int TCyclogramView::TimeGap() const {
  return fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 8;
}

int TCyclogramView::LabelRoom() const {
  if (form_.Node() == nullptr) return 0;
  int labels = 0;
  const TValueAxis axis = form_.Table().Axis(*form_.Node(), std::max(0, height() - TimeRow()), ValueGap());
  for (const TAxisTick& tick : axis.Ticks())
    labels = std::max(labels, fontMetrics().horizontalAdvance(tick.Text));
  return labels > 0 ? labels + 8 : 0;
}

// ---- TCycloEditForm ------------------------------------------------------------------------------

TCycloEditForm::TCycloEditForm(TNetwork& network, TSession* session, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      network_(network) {
  setObjectName(QStringLiteral("CycloEditForm"));
  setWindowTitle(QStringLiteral("Редактор циклограмм"));
  setWindowIcon(ImageIcon(iiCYCLO));
  new TToolWindowCount(this, session);  // owned by the window

  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  auto tool = [this](int image, const char* hint, const char* name) {
    QAction* a = toolBar_->addAction(ImageIcon(image), QString::fromUtf8(hint));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  compressXAction_ = tool(iiCOMPRESS, "Сжать по горизонтали", "compressXAction");
  zoomInAction_ = tool(iiZOOMIN, "Увеличить", "zoomInAction");
  zoomOutAction_ = tool(iiZOOMOUT, "Уменьшить", "zoomOutAction");
  expandXAction_ = tool(iiEXPAND, "Растянуть по горизонтали", "expandXAction");
  // Keeps the row commands above the grid.
  spacer_ = new QWidget(toolBar_);
  spacer_->setObjectName(QStringLiteral("spacer"));
  toolBar_->addWidget(spacer_);
  addAction_ = tool(iiADD, "Добавить запись", "addAction");
  insertAction_ = tool(iiINSERT, "Вставить запись", "insertAction");
  deleteAction_ = tool(iiDELETE, "Удалить запись", "deleteAction");

  graph_ = new TCyclogramView(*this);
  grid_ = new QTableWidget(0, 2, this);
  grid_->setObjectName(QStringLiteral("pointsGrid"));
  grid_->setHorizontalHeaderLabels({CyclogramHeader(0), CyclogramHeader(1)});
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid_->horizontalHeader()->setFixedHeight(kRowHeight + 2);
  // At least the toolkit's width, and room for the heading in this system's font.
  for (int column = 0; column < 2; ++column) {
    const int heading =
        grid_->horizontalHeader()->fontMetrics().horizontalAdvance(CyclogramHeader(column)) + 12;
    grid_->setColumnWidth(column, std::max(kColumnWidth, heading));
  }
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  grid_->setMinimumWidth(kMinGridWidth);

  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setHandleWidth(2);
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(graph_);
  splitter_->addWidget(grid_);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolBar_);
  layout->addWidget(splitter_, 1);

  setMinimumSize(kMinWidth, kMinHeight);
  resize(480, 260);
  splitter_->setSizes({480 - kMinGridWidth - 2, kMinGridWidth});

  connect(compressXAction_, &QAction::triggered, this, [this] { Zoom(TCyclogramZoom::CompressX); });
  connect(zoomInAction_, &QAction::triggered, this, [this] { Zoom(TCyclogramZoom::ZoomIn); });
  connect(zoomOutAction_, &QAction::triggered, this, [this] { Zoom(TCyclogramZoom::ZoomOut); });
  connect(expandXAction_, &QAction::triggered, this, [this] { Zoom(TCyclogramZoom::ExpandX); });
  connect(addAction_, &QAction::triggered, this, [this] {
    ShowFaults(table_.Add());
    FillGrid();
  });
  connect(insertAction_, &QAction::triggered, this, [this] {
    ShowFaults(table_.Insert());
    FillGrid();
  });
  connect(deleteAction_, &QAction::triggered, this, [this] {
    table_.Remove();
    FillGrid();
  });
  connect(grid_, &QTableWidget::cellChanged, this, &TCycloEditForm::CellTyped);
  connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row) { CurrentCellChanged(row); });
  connect(splitter_, &QSplitter::splitterMoved, this, [this] { UpdateSpacer(); });

  InstallHelpShortcut(this, kHelpContext);
}

TCycloEditForm::~TCycloEditForm() = default;

void TCycloEditForm::SetNode(TCommandNode* node) {
  node_ = node;
  if (node_ == nullptr) return;
  setWindowTitle(node_->Caption());
  table_.Load(*node_);
  FillGrid();
}

void TCycloEditForm::FillGrid() {
  filling_ = true;
  grid_->setRowCount(table_.PointCount());
  for (int r = 1; r <= table_.PointCount(); ++r)
    for (int c = 0; c < 2; ++c) {
      QTableWidgetItem* item = grid_->item(r - 1, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        grid_->setItem(r - 1, c, item);
      }
      item->setText(table_.Cell(r, c));
    }
  grid_->setEnabled(table_.Enabled());
  if (table_.CurrentRow() >= 1) {
    const int column = std::max(grid_->currentColumn(), 0);
    grid_->setCurrentCell(table_.CurrentRow() - 1, column);
    grid_->scrollToItem(grid_->item(table_.CurrentRow() - 1, column));
  }
  filling_ = false;
  graph_->update();
}

void TCycloEditForm::CellTyped(int row, int column) {
  if (filling_ || node_ == nullptr) return;
  const QTableWidgetItem* item = grid_->item(row, column);
  ShowFaults(table_.Typed(*node_, row + 1, column, item != nullptr ? item->text() : QString()));
  if (fitPending_ && FitTime()) fitPending_ = false;
  graph_->update();
}

bool TCycloEditForm::FitTime() {
  return node_ != nullptr && table_.FitTime(*node_, graph_->width() - graph_->LabelRoom());
}

void TCycloEditForm::CurrentCellChanged(int row) {
  if (filling_ || row < 0) return;
  table_.Select(row + 1);
  graph_->update();
}

void TCycloEditForm::Zoom(TCyclogramZoom zoom) {
  if (node_ == nullptr) return;
  ZoomCyclogram(*node_, zoom);
  graph_->update();
}

void TCycloEditForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && node_ != nullptr) {
    // The last row is current and marked, as when the node was handed over.
    table_.Select(table_.PointCount());
    FillGrid();
    // The laid-out width is known here; a programme drawn at 1 px/s would hug the left edge.
    fitPending_ = !FitTime();
  }
  QDialog::showEvent(event);
  UpdateSpacer();
}

void TCycloEditForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  UpdateSpacer();
}

void TCycloEditForm::UpdateSpacer() {
  const int left = spacer_->mapTo(this, QPoint(0, 0)).x();
  const int handle = splitter_->mapTo(this, QPoint(splitter_->sizes().value(0), 0)).x();
  spacer_->setFixedWidth(std::max(0, handle - left - 4));
}

void TCycloEditForm::reject() {
  if (isVisible()) {
    const TMsgButton answer = ShowMessage(QStringLiteral("Сохранить изменения?"), TMsgIcon::Question,
                                          mbYes | mbNo | mbCancel, mbYes);
    if (answer == mbCancel) return;
    if (answer == mbYes && node_ != nullptr) {
      // An edit still open in the grid is part of what is kept.
      grid_->setCurrentItem(nullptr);
      table_.Store(*node_);
      SaveTreeFileOrTell(network_, *network_.TTemplates());
    }
  }
  QDialog::reject();
}

}  // namespace vexa
