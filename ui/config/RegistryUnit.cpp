#include "ui/config/RegistryUnit.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <stdexcept>

#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "ui/MainUnit.h"
#include "ui/model/RegistryRules.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

// Wide enough for the type bar with "Unknown" and "RW" unclipped; the operator may go down to 217.
constexpr int kInitialWidth = 250;
constexpr int kTreeHeight = 190;
const QString kRootName = QStringLiteral("REGISTRY");
const QString kRootCaption = QStringLiteral("Шаблоны каналов");
constexpr int kAccessRW = 1;

}  // namespace

TRegistryForm::TRegistryForm(TNetwork& network, TMainForm* mainForm, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), network_(network) {
  setObjectName(QStringLiteral("RegistryForm"));
  setWindowTitle(kRootCaption);
  setWindowIcon(ImageIcon(iiCHANNELS));
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window

  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  openAction_ = toolBar_->addAction(ImageIcon(iiOPEN), QStringLiteral("Открыть"));
  openAction_->setObjectName(QStringLiteral("openAction"));
  saveAction_ = toolBar_->addAction(ImageIcon(iiSAVE), QStringLiteral("Сохранить"));
  saveAction_->setObjectName(QStringLiteral("saveAction"));
  toolBar_->addSeparator();
  addAction_ = toolBar_->addAction(ImageIcon(iiADD), QStringLiteral("Добавить"));
  addAction_->setObjectName(QStringLiteral("addAction"));
  deleteAction_ = toolBar_->addAction(ImageIcon(iiDELETE), QStringLiteral("Удалить"));
  deleteAction_->setObjectName(QStringLiteral("deleteAction"));

  tvRegistry_ = new QTreeWidget(this);
  tvRegistry_->setObjectName(QStringLiteral("templatesTree"));
  tvRegistry_->setHeaderHidden(true);
  tvRegistry_->setColumnCount(1);
  tvRegistry_->setSelectionMode(QAbstractItemView::SingleSelection);
  tvRegistry_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::SelectedClicked);

  typeBar_ = new QWidget(this);
  typeBar_->setObjectName(QStringLiteral("typeBar"));
  cbType_ = new QComboBox(typeBar_);
  cbType_->setObjectName(QStringLiteral("typeBox"));
  cbType_->addItems(RegistryTypeNames());
  cbAccess_ = new QComboBox(typeBar_);
  cbAccess_->setObjectName(QStringLiteral("accessBox"));
  cbAccess_->addItems({QStringLiteral("R"), QStringLiteral("RW")});
  auto* typeLabel = new QLabel(QStringLiteral("Тип:"), typeBar_);
  typeLabel->setBuddy(cbType_);
  auto* accessLabel = new QLabel(QStringLiteral("Доступ:"), typeBar_);
  accessLabel->setBuddy(cbAccess_);
  auto* bar = new QHBoxLayout(typeBar_);
  bar->setContentsMargins(4, 3, 4, 3);
  bar->setSpacing(4);
  bar->addWidget(typeLabel);
  bar->addWidget(cbType_, 1);
  bar->addSpacing(4);
  bar->addWidget(accessLabel);
  bar->addWidget(cbAccess_);

  meComments_ = new QPlainTextEdit(this);
  meComments_->setObjectName(QStringLiteral("commentsField"));
  meComments_->setMinimumHeight(kCommentsMinimum);

  // The bar stays with the comments below the splitter, so the comments take what the window
  // gains or loses; once they are down to their minimum the tree gives way instead.
  auto* bottom = new QWidget(this);
  auto* bottomLayout = new QVBoxLayout(bottom);
  bottomLayout->setContentsMargins(0, 0, 0, 0);
  bottomLayout->setSpacing(0);
  bottomLayout->addWidget(typeBar_);
  bottomLayout->addWidget(meComments_, 1);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(tvRegistry_);
  splitter_->addWidget(bottom);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolBar_);
  layout->addWidget(splitter_, 1);

  setMinimumSize(kMinWidth, kMinHeight);
  resize(kInitialWidth, kMinHeight);
  splitter_->setSizes({kTreeHeight, kMinHeight - kTreeHeight});

  connect(openAction_, &QAction::triggered, this, &TRegistryForm::OpenClick);
  connect(saveAction_, &QAction::triggered, this, &TRegistryForm::SaveClick);
  connect(addAction_, &QAction::triggered, this, &TRegistryForm::AddClick);
  connect(deleteAction_, &QAction::triggered, this, &TRegistryForm::DeleteClick);
  connect(tvRegistry_, &QTreeWidget::itemSelectionChanged, this, &TRegistryForm::ShowSelection);
  connect(tvRegistry_, &QTreeWidget::itemChanged, this, &TRegistryForm::CaptionEdited);
  connect(cbType_, &QComboBox::currentIndexChanged, this, &TRegistryForm::TypeChosen);
  connect(cbAccess_, &QComboBox::currentIndexChanged, this, &TRegistryForm::AccessChosen);
  connect(meComments_, &QPlainTextEdit::textChanged, this, &TRegistryForm::CommentsEdited);

  ShowSelection();
  InstallHelpShortcut(this, kHelpContext);
}

TRegistryForm::~TRegistryForm() = default;

bool TRegistryForm::ShowsCurrentTree() const {
  if (network_.Registry().get() != root_) return false;
  if (root_ == nullptr) return true;
  // A root made after the old one was freed may sit at the same address; it is linked to no item.
  return root_->PData() != nullptr && root_->PData() == tvRegistry_->topLevelItem(0);
}

bool TRegistryForm::CheckCurrent() {
  if (ShowsCurrentTree()) return true;
  Rebuild();
  return false;
}

void TRegistryForm::RebuildLater() {
  if (rebuildPending_) return;
  rebuildPending_ = true;
  QTimer::singleShot(0, this, [this] {
    rebuildPending_ = false;
    if (!ShowsCurrentTree()) Rebuild();
  });
}

void TRegistryForm::Rebuild() {
  RebuildAndSelect(nullptr);
}

void TRegistryForm::RebuildAndSelect(TRootNode* node) {
  {
    // The old items may refer to nodes that no longer exist: nothing may look at them on the way.
    const QSignalBlocker blocker(tvRegistry_);
    BuildTreeView(tvRegistry_, network_.Registry().get());
    root_ = network_.Registry().get();
    for (QTreeWidgetItemIterator it(tvRegistry_); *it != nullptr; ++it)
      (*it)->setFlags((*it)->flags() | Qt::ItemIsEditable);
    tvRegistry_->setCurrentItem(nullptr);
    if (QTreeWidgetItem* item = NodeItem(tvRegistry_, node)) {
      item->setExpanded(true);
      tvRegistry_->setCurrentItem(item);
      tvRegistry_->scrollToItem(item);
    }
  }
  ShowSelection();
}

void TRegistryForm::Open() {
  TBusyCursor busy;
  {
    const QSignalBlocker blocker(tvRegistry_);
    tvRegistry_->clear();
    root_ = nullptr;
  }
  CreateTreeRoot(network_.Registry(), kRootName, kRootCaption, iiTREE);
  try {
    LoadTreeFile(network_, network_.Registry());
  } catch (const EUnreadableFiles& e) {
    // The empty root stays; the file is kept aside before a save replaces it.
    ShowMessage(QStringLiteral("Ошибка чтения шаблонов каналов: %1").arg(e.Message()), TMsgIcon::Error);
  }
  Rebuild();
}

QTreeWidgetItem* TRegistryForm::SelectedItem() const {
  const QList<QTreeWidgetItem*> selected = tvRegistry_->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

TRootNode* TRegistryForm::SelectedNode() const {
  return ShowsCurrentTree() ? ItemNode(SelectedItem()) : nullptr;
}

TCustomRegister* TRegistryForm::SelectedRegisterTemplate() const {
  if (ItemLevel(SelectedItem()) != rlRegisterTemplate) return nullptr;
  return dynamic_cast<TCustomRegister*>(SelectedNode());
}

void TRegistryForm::ShowSelection() {
  if (!ShowsCurrentTree()) RebuildLater();
  TRootNode* node = SelectedNode();
  TCustomRegister* reg = SelectedRegisterTemplate();

  const QSignalBlocker commentsBlocker(meComments_);
  const QSignalBlocker typeBlocker(cbType_);
  const QSignalBlocker accessBlocker(cbAccess_);
  meComments_->setPlainText(node != nullptr ? node->Comments() : QString());
  meComments_->setReadOnly(node == nullptr);
  cbType_->setCurrentIndex(reg != nullptr ? static_cast<int>(reg->RegisterType()) : -1);
  cbAccess_->setCurrentIndex(reg != nullptr ? (reg->UserCanWRITE() ? kAccessRW : 0) : -1);
  cbType_->setEnabled(reg != nullptr);
  cbAccess_->setEnabled(reg != nullptr);
}

void TRegistryForm::OpenClick() {
  if (!CheckCurrent()) return;
  Open();
}

void TRegistryForm::SaveClick() {
  if (!CheckCurrent() || !network_.Registry()) return;
  SaveTreeFileOrTell(network_, *network_.Registry(), true);
}

void TRegistryForm::AddClick() {
  if (!CheckCurrent()) return;
  QTreeWidgetItem* item = SelectedItem();
  const TRegistryTarget target = RegistryTarget(ItemNode(item), ItemLevel(item), network_.Registry().get());
  if (AddTemplate(target) == nullptr) return;
  RebuildAndSelect(SelectionAfterCommand(*target.Owner));
}

void TRegistryForm::DeleteClick() {
  if (!CheckCurrent()) return;
  QTreeWidgetItem* item = SelectedItem();
  const TRegistryTarget target = RegistryTarget(ItemNode(item), ItemLevel(item), network_.Registry().get());
  if (!DeleteTemplate(target)) return;
  RebuildAndSelect(SelectionAfterCommand(*target.Owner));
}

void TRegistryForm::CaptionEdited(QTreeWidgetItem* item, int column) {
  if (!ShowsCurrentTree()) return RebuildLater();
  TRootNode* node = ItemNode(item);
  if (node != nullptr && column == 0) node->SetCaption(item->text(0));
}

void TRegistryForm::TypeChosen(int index) {
  if (!ShowsCurrentTree()) return RebuildLater();
  TCustomRegister* reg = SelectedRegisterTemplate();
  if (reg != nullptr && index >= 0) reg->SetRegisterType(static_cast<TRegisterType>(index));
}

void TRegistryForm::AccessChosen(int index) {
  if (!ShowsCurrentTree()) return RebuildLater();
  TCustomRegister* reg = SelectedRegisterTemplate();
  if (reg != nullptr && index >= 0) reg->SetUserCanWRITE(index == kAccessRW);
}

void TRegistryForm::CommentsEdited() {
  if (!ShowsCurrentTree()) return RebuildLater();
  if (TRootNode* node = SelectedNode()) node->SetComments(meComments_->toPlainText());
}

void TRegistryForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The layout has resized the splitter already. Kept as they are now, the sizes make a tree that
  // gave way to the comments keep its new height, instead of the splitter growing it back later.
  if (splitter_->isVisible()) splitter_->setSizes(splitter_->sizes());
}

void TRegistryForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !open_) {
    open_ = true;
    Open();
  }
  QWidget::showEvent(event);
}

void TRegistryForm::hideEvent(QHideEvent* event) {
  // A spontaneous hide is the window being minimised: it is still open.
  if (!event->spontaneous()) open_ = false;
  QWidget::hideEvent(event);
}

}  // namespace vexa
