#include "ui/ChannelUnit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/Services.h"
#include "ui/MainUnit.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

const QString kNoComments = QStringLiteral("Комментарии");
const QString kBlanks = QStringLiteral("   ");
constexpr int kCaptionColumn = 0;
constexpr int kValueColumn = 1;
constexpr int kGridLines = 3;  // left, between the columns, right
constexpr int kRowHeight = 16;

// The grid can close an editor left open, keeping what was typed, before "Применить" reads the rows.
class TChannelGrid : public QTableWidget {
 public:
  using QTableWidget::QTableWidget;

  void CommitOpenEditor() {
    if (state() != EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) {
      commitData(editor);
      closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
  }
};

}  // namespace

// Every key typed into a value goes to the table at once, so a read-only register refuses it
// while the operator types, not only when the cell is left.
class TChannelValueDelegate : public QStyledItemDelegate {
 public:
  explicit TChannelValueDelegate(TChannelForm* form) : QStyledItemDelegate(form), form_(form) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      const int row = TChannelForm::TableRow(index.row());
      connect(line, &QLineEdit::textEdited, line,
              [this, row](const QString& text) { form_->CellEdited(row, text); });
    }
    return editor;
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    QStyledItemDelegate::setModelData(editor, model, index);
    form_->CellEdited(TChannelForm::TableRow(index.row()), index.data().toString());
  }

 private:
  TChannelForm* form_;
};

TChannelForm::TChannelForm(TNetwork& network, TMainForm* mainForm, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), table_(network), network_(network) {
  setObjectName(QStringLiteral("ChannelForm"));
  setWindowIcon(ImageIcon(iiTABLE));
  setSizeGripEnabled(true);
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window

  auto* grid = new TChannelGrid(this);
  grid_ = grid;
  grid_->setObjectName(QStringLiteral("channelGrid"));
  grid_->setColumnCount(2);
  grid_->setHorizontalHeaderLabels({TChannelTable::kRegisterHeader, TChannelTable::kValueHeader});
  grid_->verticalHeader()->hide();
  grid_->horizontalHeader()->setSectionsClickable(false);
  grid_->horizontalHeader()->setSectionResizeMode(kCaptionColumn, QHeaderView::Interactive);
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->horizontalHeader()->setHighlightSections(false);
  grid_->verticalHeader()->setDefaultSectionSize(std::max(kRowHeight, fontMetrics().height() + 4));
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  auto* delegate = new TChannelValueDelegate(this);
  grid_->setItemDelegateForColumn(kValueColumn, delegate);
  // Esc gives the cell its old text back; the row, which took every key, must follow it.
  connect(delegate, &QAbstractItemDelegate::closeEditor, this,
          [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
            if (hint != QAbstractItemDelegate::RevertModelCache) return;
            const QModelIndex index = grid_->currentIndex();
            CellEdited(TableRow(index.row()), index.data().toString());
          });
  grid_->setWordWrap(false);
  grid_->setMinimumHeight(kPanelHeight);

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setMinimumHeight(kPanelHeight);
  meComments_ = new QPlainTextEdit(kNoComments, panel);
  meComments_->setObjectName(QStringLiteral("commentsField"));
  meComments_->setReadOnly(true);
  QPalette palette = meComments_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Midlight));
  meComments_->setPalette(palette);
  btApply_ = new QPushButton(QStringLiteral("Применить"), panel);
  btApply_->setObjectName(QStringLiteral("applyButton"));
  btCancel_ = new QPushButton(QStringLiteral("Отмена"), panel);
  btCancel_->setObjectName(QStringLiteral("cancelButton"));
  // Enter belongs to the cell being edited, never to a button.
  btApply_->setAutoDefault(false);
  btCancel_->setAutoDefault(false);
  auto* buttons = new QVBoxLayout;
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->addWidget(btApply_);
  buttons->addWidget(btCancel_);
  buttons->addStretch(1);
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->setContentsMargins(0, 2, 2, 2);
  panelLayout->setSpacing(4);
  panelLayout->addWidget(meComments_, 1);
  panelLayout->addLayout(buttons);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(grid_);
  splitter_->addWidget(panel);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(splitter_);

  setMinimumSize(kMinWidth, kMinHeight);
  resize(kMinWidth, kMinHeight);
  splitter_->setSizes({kMinHeight - kPanelHeight, kPanelHeight});

  table_.RowChanged = [this](int row) { ShowRow(row); };
  connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row, int, int previousRow, int) {
    if (row != previousRow) CurrentRowChanged(row);
  });
  connect(btApply_, &QPushButton::clicked, this, &TChannelForm::ApplyClick);
  connect(btCancel_, &QPushButton::clicked, this, &QDialog::reject);

  InstallHelpShortcut(this, kHelpContext);
}

TChannelForm::~TChannelForm() = default;

void TChannelForm::SetChannel(TRootNode* channel) {
  channel_ = channel;
  setWindowTitle(channel != nullptr ? channel->Caption() : QString());
  // Sized before it is shown, so whoever places the window knows its width.
  FitWidth(channel);
}

void TChannelForm::SetLabel(TLabelDisplay* label) {
  labelRegister_ = label != nullptr ? dynamic_cast<TRootNode*>(label->Owner()) : nullptr;
}

TRootNode* TChannelForm::SelectedRegister() const {
  return selected_;
}

void TChannelForm::FitWidth(TRootNode* channel) {
  const QFontMetrics metrics = grid_->fontMetrics();
  QHeaderView* header = grid_->horizontalHeader();
  int captionWidth = std::max(metrics.horizontalAdvance(TChannelTable::kRegisterHeader + kBlanks),
                              header->sectionSizeHint(kCaptionColumn));
  if (channel != nullptr)
    for (int i = 1; i < channel->NodeCount(); ++i)
      if (channel->Node(i)->Visible())
        captionWidth =
            std::max(captionWidth, metrics.horizontalAdvance(channel->Node(i)->Caption() + kBlanks));
  // The cell's own text margins come on top of the blanks.
  captionWidth += 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1);
  const int valueWidth = std::max(metrics.horizontalAdvance(TChannelTable::kValueHeader + kBlanks) + 20,
                                  header->sectionSizeHint(kValueColumn));
  grid_->setColumnWidth(kCaptionColumn, captionWidth);
  // Room for the scroll bar too, so that a long channel does not squeeze the values.
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, grid_);
  const int width =
      captionWidth + valueWidth + (grid_->showGrid() ? kGridLines : 0) + 2 * grid_->frameWidth() + scrollBar;
  resize(std::max(kMinWidth, width), height());
}

void TChannelForm::Load() {
  TBusyCursor busy;
  ++shows_;
  table_.Load(channel_);
  QSignalBlocker blocker(grid_);
  grid_->clearContents();
  // Row 0 of the table is the grid's header.
  grid_->setRowCount(std::max(0, table_.RowCount() - 1));
  const QBrush fixed = grid_->palette().button();
  int current = -1;
  for (int row = 1; row < table_.RowCount(); ++row) {
    const TChannelRow& r = table_.Row(row);
    auto* caption = new QTableWidgetItem(r.Caption);
    caption->setFlags(Qt::ItemIsEnabled);
    caption->setBackground(fixed);
    grid_->setItem(GridRow(row), kCaptionColumn, caption);
    auto* value = new QTableWidgetItem(r.Text);
    if (r.Register == nullptr) value->setFlags(Qt::ItemIsEnabled);
    grid_->setItem(GridRow(row), kValueColumn, value);
    // A hidden register has its row, but nothing to show in it.
    const bool shown = channel_->Node(row)->Visible();
    grid_->setRowHidden(GridRow(row), !shown);
    if (shown && current < 0) current = row;
    if (r.Register != nullptr && r.Register == labelRegister_) current = row;
  }
  FitWidth(channel_);
  if (current > 0) grid_->setCurrentCell(GridRow(current), kValueColumn);
  blocker.unblock();
  CurrentRowChanged(current > 0 ? GridRow(current) : -1);
}

void TChannelForm::ShowRow(int row) {
  const QString& text = table_.Row(row).Text;
  QTableWidgetItem* item = grid_->item(GridRow(row), kValueColumn);
  if (item == nullptr) return;
  item->setText(text);
  // The operator sees it in the cell being edited too.
  if (auto* editor = qobject_cast<QLineEdit*>(grid_->indexWidget(grid_->indexFromItem(item))))
    if (editor->text() != text) editor->setText(text);
}

void TChannelForm::CurrentRowChanged(int gridRow) {
  const int row = TableRow(gridRow);
  selected_ = row > 0 && row < table_.RowCount() ? table_.Row(row).Register : nullptr;
  meComments_->setPlainText(selected_ != nullptr ? selected_->Comments() : kNoComments);
  Q_EMIT RegisterSelected(selected_);
}

void TChannelForm::CellEdited(int row, const QString& text) {
  if (row <= 0 || row >= table_.RowCount() || table_.Row(row).Text == text) return;
  if (!table_.Refuses(row, text)) {
    ShowFaults(table_.Edit(row, text));
    return;
  }
  // Called from inside the editor's key or focus handler: a message box there would take the focus
  // from the editor, whose closing deletes it before that handler has returned.
  const bool waiting = refused_.has_value();
  refused_ = TRefusal{row, text, shows_};
  if (!waiting) QTimer::singleShot(0, this, &TChannelForm::TakeBackRefused);
}

void TChannelForm::TakeBackRefused() {
  const std::optional<TRefusal> refused = std::exchange(refused_, std::nullopt);
  // The window may have been closed, or closed and opened on another channel, meanwhile.
  if (!refused || !open_ || refused->Show != shows_) return;
  ShowFaults(table_.Edit(refused->Row, refused->Text));
}

void TChannelForm::ApplyClick() {
  static_cast<TChannelGrid*>(grid_)->CommitOpenEditor();
  // The table tells nothing once the window was closed or loaded another channel.
  table_.Apply([](const TFaults& faults) { ShowFaults(faults); });
}

void TChannelForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !open_) {
    open_ = true;
    Load();
  }
  QDialog::showEvent(event);
}

void TChannelForm::hideEvent(QHideEvent* event) {
  // A spontaneous hide is the window being minimised: it is still open.
  if (!event->spontaneous() && open_) {
    open_ = false;
    // The nodes may be gone before the next show: nothing of them is kept.
    table_.Clear();
    channel_ = nullptr;
    labelRegister_ = nullptr;
    selected_ = nullptr;
    {
      const QSignalBlocker blocker(grid_);
      grid_->setRowCount(0);
    }
    Q_EMIT Closed();
  }
  QDialog::hideEvent(event);
}

}  // namespace vexa
