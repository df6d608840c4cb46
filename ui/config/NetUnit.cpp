#include "ui/config/NetUnit.h"

#include <QAction>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

#include "alarms/model/AlarmLimits.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "ui/config/RegisterPropertiesUnit.h"
#include "ui/config/RootPropertiesUnit.h"
#include "ui/model/NetRules.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"
#include "ui/parts/Session.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

const QString kNoComments = QStringLiteral("Комментарии");
constexpr int kSplitterMinimum = 50;

// The tree adds the dragged node's name to what a tree item drag carries, so a drop target knows
// the node without looking into this window.
//
// A press on an item makes it current at once, but a press may start a drag: the window tells the
// selection (which brings the register's label page forward) only when the press ends, so that a
// register dragged onto another page lands on the page the operator chose.
class TNetTreeView : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;

  bool Pressed() const { return pressed_; }
  // The press has ended, by a release or by the end of the drag it started.
  std::function<void()> PressEnded;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    pressed_ = true;
    QTreeWidget::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QTreeWidget::mouseReleaseEvent(event);
    EndPress();
  }
  void startDrag(Qt::DropActions actions) override {
    QTreeWidget::startDrag(actions);
    EndPress();
  }

  QStringList mimeTypes() const override { return {QString::fromLatin1(TNetForm::kNodeMimeType)}; }
  QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
    return NodeMimeData(items, QString::fromLatin1(TNetForm::kNodeMimeType));
  }

 private:
  void EndPress() {
    if (!pressed_) return;
    pressed_ = false;
    if (PressEnded) PressEnded();
  }

  bool pressed_ = false;
};

}  // namespace

TNetForm::TNetForm(TNetwork& network, TSession* session, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), session_(session), network_(network) {
  setObjectName(QStringLiteral("NetForm"));
  setWindowTitle(QStringLiteral("Структура сети"));
  setWindowIcon(ImageIcon(iiTREE));
  new TToolWindowCount(this, session);  // owned by the window

  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  saveAction_ = toolBar_->addAction(ImageIcon(iiSAVE), QStringLiteral("Сохранить"));
  saveAction_->setObjectName(QStringLiteral("saveAction"));
  propertiesAction_ = toolBar_->addAction(ImageIcon(iiEDIT), QStringLiteral("Редактор свойств"));
  propertiesAction_->setObjectName(QStringLiteral("propertiesAction"));
  QAction* alarmLimits = toolBar_->addAction(AlarmIcon(), QStringLiteral("Уставки тревог"));
  alarmLimits->setObjectName(QStringLiteral("alarmLimitsAction"));
  connect(alarmLimits, &QAction::triggered, this, [this] {
    const QTreeWidgetItem* item = tvNet_->currentItem();
    TRootNode* node = item != nullptr ? ItemNode(item) : nullptr;
    const bool open = Session() == nullptr || Session()->NetworkOpen();
    if (!open || !EditAlarmLimits || node == nullptr) return;
    // A register's limits; a regulator's or a channel's: the regulator's communication alarm.
    const QString name =
        dynamic_cast<TCustomRegister*>(node) != nullptr ? node->Name() : RegulatorOf(network_, node->Name());
    if (!name.isEmpty()) EditAlarmLimits(name);
  });

  auto* tree = new TNetTreeView(this);
  tree->PressEnded = [this] {
    if (!selectionPending_) return;
    selectionPending_ = false;
    ShowSelection(tvNet_->currentItem());
  };
  tvNet_ = tree;
  tvNet_->setObjectName(QStringLiteral("networkTree"));
  tvNet_->setHeaderHidden(true);
  tvNet_->setColumnCount(1);
  tvNet_->setSelectionMode(QAbstractItemView::SingleSelection);
  tvNet_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvNet_->setDragEnabled(true);
  tvNet_->setDragDropMode(QAbstractItemView::DragOnly);
  tvNet_->setMinimumHeight(kSplitterMinimum);

  meComments_ = new QPlainTextEdit(kNoComments, this);
  meComments_->setObjectName(QStringLiteral("commentsField"));
  meComments_->setReadOnly(true);
  meComments_->setMinimumHeight(kSplitterMinimum);
  QPalette palette = meComments_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Midlight));
  meComments_->setPalette(palette);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(tvNet_);
  splitter_->addWidget(meComments_);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolBar_);
  layout->addWidget(splitter_, 1);

  resize(kWidth, kHeight);
  splitter_->setSizes({kHeight - kCommentsHeight, kCommentsHeight});

  connect(saveAction_, &QAction::triggered, this, &TNetForm::SaveClick);
  connect(propertiesAction_, &QAction::triggered, this, &TNetForm::PropertiesClick);
  connect(tvNet_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { CurrentChanged(current); });
  connect(tvNet_, &QTreeWidget::itemDoubleClicked, this, [this] { PropertiesClick(); });
  if (session != nullptr)
    connect(session, &TSession::NetworkOpenChanged, this, &TNetForm::NetworkOpenChanged);
  NetworkOpenChanged(NetworkOpen());

  InstallHelpShortcut(this, kHelpContext);
}

TNetForm::~TNetForm() = default;

void TNetForm::keyPressEvent(QKeyEvent* event) {
  // Esc closes it, as it closes the dialogs it is shown among after a search; the tree and the
  // fields pass it on.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool TNetForm::NetworkOpen() const {
  return Session() != nullptr && Session()->NetworkOpen();
}

void TNetForm::NetworkOpenChanged(bool open) {
  toolBar_->setVisible(open);
}

TRootNode* TNetForm::SelectedNode() const {
  return ItemNode(tvNet_->currentItem());
}

void TNetForm::SelectNode(TRootNode* node) {
  QTreeWidgetItem* item = NodeItem(tvNet_, node);
  if (item == nullptr) return;
  if (tvNet_->currentItem() == item)
    ShowSelection(item);
  else
    tvNet_->setCurrentItem(item);
  tvNet_->scrollToItem(item);
}

void TNetForm::Clear() {
  tvNet_->clear();
}

void TNetForm::Rebuild() {
  const bool hadSelection = tvNet_->currentItem() != nullptr;
  {
    // The old items may refer to nodes that no longer exist: nothing may look at them on the way.
    const QSignalBlocker blocker(tvNet_);
    BuildTreeView(tvNet_, network_.Net().get());
    tvNet_->setCurrentItem(nullptr);
  }
  if (hadSelection) ShowSelection(nullptr);
}

void TNetForm::CurrentChanged(QTreeWidgetItem* current) {
  if (static_cast<TNetTreeView*>(tvNet_)->Pressed()) {
    selectionPending_ = true;  // told when the press ends: it may be the start of a drag
    return;
  }
  selectionPending_ = false;
  ShowSelection(current);
}

void TNetForm::ShowSelection(QTreeWidgetItem* item) {
  TRootNode* node = ItemNode(item);
  meComments_->setPlainText(node != nullptr ? node->Comments() : kNoComments);
  Q_EMIT NodeSelected(node);
}

void TNetForm::SaveClick() {
  SaveTreeFileOrTell(network_, *network_.Net(), true);
}

void TNetForm::PropertiesClick() {
  if (!NetworkOpen()) return;
  QTreeWidgetItem* item = tvNet_->currentItem();
  TRootNode* node = ItemNode(item);
  if (node == nullptr) return;
  // A rebuild while the dialog is up would free the item (and perhaps the node): the index tells.
  const QPersistentModelIndex index = tvNet_->indexFromItem(item);
  bool accepted = false;
  switch (PropertiesDialogForLevel(ItemLevel(item))) {
    case TPropertiesDialog::Node: {
      TRootPropertiesForm* dialog = NodeDialog();
      dialog->SetNode(node);
      PlaceBeside(dialog);
      accepted = dialog->exec() == QDialog::Accepted;
      break;
    }
    case TPropertiesDialog::Register:
      if (auto* reg = dynamic_cast<TRegisterNode*>(node)) {
        TRegisterPropertiesForm* dialog = RegisterDialog();
        dialog->SetRegister(reg);
        PlaceBeside(dialog);
        accepted = dialog->exec() == QDialog::Accepted;
      }
      break;
    case TPropertiesDialog::None:
      break;
  }
  if (!index.isValid()) return;
  item = tvNet_->itemFromIndex(index);
  if (accepted) SetItemCaption(item, node->Caption());
  if (QTreeWidgetItem* current = tvNet_->currentItem()) ShowSelection(current);
}

// The main window's dialogs when it has them, else this window's own.
TRootPropertiesForm* TNetForm::NodeDialog() {
  if (Session() != nullptr)
    if (auto* shared = qobject_cast<TRootPropertiesForm*>(Session()->Window(TWindowRole::NodeProperties)))
      return shared;
  if (ownNodeDialog_ == nullptr) ownNodeDialog_ = new TRootPropertiesForm(this);
  return ownNodeDialog_;
}

TRegisterPropertiesForm* TNetForm::RegisterDialog() {
  if (Session() != nullptr)
    if (auto* shared =
            qobject_cast<TRegisterPropertiesForm*>(Session()->Window(TWindowRole::RegisterProperties)))
      return shared;
  if (ownRegisterDialog_ == nullptr) ownRegisterDialog_ = new TRegisterPropertiesForm(network_, this);
  return ownRegisterDialog_;
}

void TNetForm::PlaceBeside(QWidget* dialog) const {
  const QScreen* s = screen();
  const QRect area = s != nullptr ? s->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
  QSize outer = dialog->frameGeometry().size();
  // A window never shown has no frame yet: it will get one like this window's.
  if (outer == dialog->size()) outer += frameGeometry().size() - size();
  dialog->move(PlaceBesideWindow(frameGeometry(), outer, area));
}

void TNetForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !open_) {
    open_ = true;
    Rebuild();
  }
  QWidget::showEvent(event);
}

void TNetForm::hideEvent(QHideEvent* event) {
  // A spontaneous hide is the window being minimised: it is still open.
  if (!event->spontaneous() && open_) {
    open_ = false;
    Q_EMIT Closed();
  }
  QWidget::hideEvent(event);
}

}  // namespace vexa
