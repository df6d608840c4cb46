#include "ui/parts/TemplatesWindow.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>
#include <optional>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "ui/config/NetUnit.h"
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

const QString kReadOnlySuffix = QStringLiteral(" (для чтения)");

// A tree or list that decides its drops through the window, and adds the dragged node's name in
// its own format to what its drags carry, so the window's other view can tell where a drag began.
class TDropView : public QTreeWidget {
 public:
  explicit TDropView(QWidget* parent) : QTreeWidget(parent) {
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
  }

  QString DragFormat;
  // Whether a drag may be dropped: anywhere (no point, on entering) or at the point.
  std::function<bool(const QMimeData*, std::optional<QPoint>)> Accepts;
  std::function<bool(const QMimeData*, QPoint)> Drop;

 protected:
  QStringList mimeTypes() const override {
    return DragFormat.isEmpty() ? QStringList() : QStringList{DragFormat};
  }
  QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
    return NodeMimeData(items, DragFormat);
  }
  // Never the view's own moves of items: a drop copies nodes, and the dragged item stays.
  void dragEnterEvent(QDragEnterEvent* event) override {
    Answer(event, Accepts && Accepts(event->mimeData(), {}));
  }
  void dragMoveEvent(QDragMoveEvent* event) override {
    Answer(event, Accepts && Accepts(event->mimeData(), event->position().toPoint()));
  }
  void dropEvent(QDropEvent* event) override {
    Answer(event, Drop && Drop(event->mimeData(), event->position().toPoint()));
  }

 private:
  static void Answer(QDropEvent* event, bool accepted) {
    if (accepted) {
      event->setDropAction(Qt::CopyAction);
      event->accept();
    } else {
      event->ignore();
    }
  }
};

bool InTree(const TRootNode& root, const TRootNode* node) {
  if (&root == node) return true;
  for (int i = 0; i < root.NodeCount(); ++i)
    if (InTree(*root.Node(i), node)) return true;
  return false;
}

TRootNode* LastChildOr(TRootNode* owner) {
  return owner->NodeCount() > 0 ? owner->Node(owner->NodeCount() - 1) : owner;
}

}  // namespace

TTemplatesWindow::TTemplatesWindow(TNetwork& network, const TTemplatesWindowSetup& setup, TSession* session,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      setup_(setup),
      session_(session),
      network_(network) {
  setWindowTitle(setup.Caption);
  setWindowIcon(ImageIcon(iiCYCLOS));
  new TToolWindowCount(this, session);  // owned by the window

  auto tool = [this](QToolBar* bar, int image, const char* hint, const char* name) {
    QAction* a = bar->addAction(ImageIcon(image), QString::fromUtf8(hint));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  topBar_ = new QToolBar(this);
  topBar_->setObjectName(QStringLiteral("templatesToolBar"));
  topBar_->setIconSize(QSize(16, 16));
  saveTemplatesAction_ = tool(topBar_, iiSAVE, "Сохранить шаблоны", "saveTemplatesAction");
  newTemplateAction_ = tool(topBar_, iiNEW, "Новый шаблон", "newTemplateAction");
  netTreeAction_ = tool(topBar_, iiTREE, "Структура сети", "networkTreeAction");
  propertiesAction_ = tool(topBar_, iiEDIT, "Редактор свойств", "propertiesAction");
  deleteTemplateAction_ = tool(topBar_, iiDELETE, "Удалить", "deleteTemplateAction");

  auto* tree = new TDropView(this);
  tree->setObjectName(QStringLiteral("templatesTree"));
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setMinimumHeight(kSplitterMinimum);
  tree->DragFormat = setup.TemplateMimeType;
  tree->Accepts = [this](const QMimeData* mime, std::optional<QPoint> at) {
    return AcceptsRegister(mime) && (!at || TemplateAt(*at) != nullptr);
  };
  tree->Drop = [this](const QMimeData* mime, QPoint at) { return DropRegister(mime, at); };
  tree_ = tree;

  bottomBar_ = new QToolBar(this);
  bottomBar_->setObjectName(QStringLiteral("itemsToolBar"));
  bottomBar_->setIconSize(QSize(16, 16));
  stopAction_ = tool(bottomBar_, iiSTOP, "Стоп", "stopAction");
  startAction_ = tool(bottomBar_, iiPLAY, "Старт", "startAction");
  startAllAction_ = tool(bottomBar_, iiSTARTALL, "Запустить все", "startAllAction");
  deleteItemAction_ = tool(bottomBar_, iiDELETE, "Удалить", "deleteItemAction");

  auto* list = new TDropView(this);
  list->setObjectName(QStringLiteral("itemsList"));
  list->setRootIsDecorated(false);
  list->setColumnCount(2);
  list->setHeaderLabels({setup.ItemsColumn, QStringLiteral("%")});
  list->headerItem()->setTextAlignment(1, Qt::AlignCenter);
  list->header()->setStretchLastSection(false);
  list->setColumnWidth(0, kNameColumnWidth);
  list->setColumnWidth(1, kProgressColumnWidth);
  list->setMinimumHeight(kSplitterMinimum);
  list->Accepts = [this](const QMimeData* mime, std::optional<QPoint>) { return AcceptsTemplate(mime); };
  list->Drop = [this](const QMimeData* mime, QPoint) { return DropTemplate(mime); };
  list_ = list;

  // The lower toolbar stays with the list it commands.
  auto* lower = new QWidget(this);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->setSpacing(0);
  lowerLayout->addWidget(bottomBar_);
  lowerLayout->addWidget(list_, 1);
  lower->setMinimumHeight(kSplitterMinimum);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(tree_);
  splitter_->addWidget(lower);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(topBar_);
  layout->addWidget(splitter_, 1);

  setMinimumSize(kWidth, kHeight);
  resize(kWidth, kHeight);
  splitter_->setSizes({kHeight / 2, kHeight / 2});

  connect(saveTemplatesAction_, &QAction::triggered, this,
          [this] { SaveTreeFileOrTell(network_, Templates(), true); });
  connect(newTemplateAction_, &QAction::triggered, this, &TTemplatesWindow::NewTemplateClick);
  connect(netTreeAction_, &QAction::triggered, this, &TTemplatesWindow::NetTreeClick);
  connect(propertiesAction_, &QAction::triggered, this, &TTemplatesWindow::PropertiesClick);
  connect(deleteTemplateAction_, &QAction::triggered, this, &TTemplatesWindow::DeleteTemplateClick);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this] { PropertiesClick(); });
  connect(stopAction_, &QAction::triggered, this, [this] { SetSelectedState(false); });
  connect(startAction_, &QAction::triggered, this, [this] { SetSelectedState(true); });
  connect(startAllAction_, &QAction::triggered, this, &TTemplatesWindow::StartAllClick);
  connect(deleteItemAction_, &QAction::triggered, this, &TTemplatesWindow::DeleteItemClick);
  if (session != nullptr)
    connect(session, &TSession::NetworkOpenChanged, this, &TTemplatesWindow::NetworkOpenChanged);
  NetworkOpenChanged(NetworkOpen());

  InstallHelpShortcut(this, setup.HelpContext);
}

TTemplatesWindow::~TTemplatesWindow() = default;

bool TTemplatesWindow::NetworkOpen() const {
  return Session() != nullptr && Session()->NetworkOpen();
}

void TTemplatesWindow::NetworkOpenChanged(bool open) {
  topBar_->setVisible(open);
}

// ---- selection --------------------------------------------------------------------------------------

TRootNode* TTemplatesWindow::SelectedObject() const {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) item = tree_->topLevelItem(0);
  TRootNode* node = ItemNode(item);
  // Items outlive the nodes a restore replaced; only a node still in the tree counts.
  return node != nullptr && InTree(Templates(), node) ? node : nullptr;
}

TRootNode* TTemplatesWindow::SelectedOwner() const {
  TRootNode* node = SelectedObject();
  auto* owner = node != nullptr ? dynamic_cast<TRootNode*>(node->Owner()) : nullptr;
  return owner != nullptr ? owner : &Templates();
}

TRootNode* TTemplatesWindow::SelectedItem() const {
  return ItemNode(list_->currentItem());
}

void TTemplatesWindow::SelectTreeNode(TRootNode* node) {
  if (QTreeWidgetItem* item = NodeItem(tree_, node)) {
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
  }
}

void TTemplatesWindow::SelectListItem(TRootNode* item) {
  if (QTreeWidgetItem* row = NodeItem(list_, item)) {
    list_->setCurrentItem(row);
    list_->scrollToItem(row);
  }
}

// ---- views ----------------------------------------------------------------------------------------

void TTemplatesWindow::Rebuild() {
  RebuildTree(LastChildOr(&Templates()));
  RebuildList();
}

void TTemplatesWindow::RebuildTree(TRootNode* select) {
  {
    const QSignalBlocker blocker(tree_);
    BuildTreeView(tree_, &Templates());
  }
  if (select == nullptr || !InTree(Templates(), select)) select = LastChildOr(&Templates());
  SelectTreeNode(select);
}

void TTemplatesWindow::RebuildList() {
  const QSignalBlocker blocker(list_);
  BuildListView(list_, &Items());
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = list_->topLevelItem(i);
    row->setTextAlignment(1, Qt::AlignCenter);
    if (const TRootNode* item = ItemNode(row)) row->setText(1, QString::number(ItemProgress(*item)));
  }
}

void TTemplatesWindow::ShowProgress(TRootNode& item, int done) {
  if (!isVisible()) return;
  if (QTreeWidgetItem* row = NodeItem(list_, &item)) row->setText(1, QString::number(done));
}

void TTemplatesWindow::ShowImage(TRootNode& item, int image) {
  if (!isVisible()) return;
  if (QTreeWidgetItem* row = NodeItem(list_, &item)) row->setIcon(0, ImageIcon(image));
}

void TTemplatesWindow::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    RebuildTree(LastChildOr(SelectedOwner()));
    RebuildList();
  }
  QWidget::showEvent(event);
}

// ---- the upper toolbar --------------------------------------------------------------------------------

void TTemplatesWindow::NewTemplateClick() {
  TRootNode* templ = NewTemplateNode(Templates());
  templ->SetCaption(setup_.NewTemplateCaption);
  templ->SetImageIndex(setup_.TemplateImage);
  RebuildTree(templ);
}

TRootNode* TTemplatesWindow::NewTemplateNode(TRootNode& owner) {
  return new TRootNode(&owner);
}

void TTemplatesWindow::NetTreeClick() {
  QWidget* net = Session() != nullptr ? Session()->Window(TWindowRole::NetTree) : nullptr;
  if (net == nullptr) return;
  PlaceBeside(net);
  net->show();
  net->raise();
  net->activateWindow();
}

void TTemplatesWindow::PropertiesClick() {
  QTreeWidgetItem* item = tree_->currentItem();
  TRootNode* node = ItemNode(item);
  if (node == nullptr || !InTree(Templates(), node)) return;
  // The dialog's event loop may rebuild the tree: the index tells whether the item survived.
  const QPersistentModelIndex index = tree_->indexFromItem(item);
  switch (ItemLevel(item)) {
    case 0:
      if (NetworkOpen()) ShowNodeDialog(*node, false);
      break;
    case 1:
      TemplateProperties(*node);
      break;
    default:
      NodeProperties(*node);
      break;
  }
  if (!index.isValid()) return;
  item = tree_->itemFromIndex(index);
  if (ItemNode(item) == node && InTree(Templates(), node)) SetItemCaption(item, node->Caption());
}

void TTemplatesWindow::DeleteTemplateClick() {
  QTreeWidgetItem* item = tree_->currentItem();
  TRootNode* node = ItemNode(item);
  if (node == nullptr || ItemLevel(item) == 0 || !InTree(Templates(), node)) return;
  TRootNode* owner = SelectedOwner();
  delete node;
  RebuildTree(LastChildOr(owner));
  SaveTreeFileOrTell(network_, Templates());
}

bool TTemplatesWindow::ShowNodeDialog(TRootNode& node, bool readOnly) {
  TRootPropertiesForm* dialog = nullptr;
  if (Session() != nullptr)
    dialog = qobject_cast<TRootPropertiesForm*>(Session()->Window(TWindowRole::NodeProperties));
  if (dialog == nullptr) {
    if (ownNodeDialog_ == nullptr) ownNodeDialog_ = new TRootPropertiesForm(this);
    dialog = ownNodeDialog_;
  }
  const QString caption = dialog->windowTitle();
  const bool wasReadOnly = dialog->ReadOnly();
  if (readOnly) {
    dialog->SetReadOnly(true);
    dialog->setWindowTitle(caption + kReadOnlySuffix);
  }
  dialog->SetNode(&node);
  PlaceBeside(dialog);
  const bool accepted = dialog->exec() == QDialog::Accepted;
  dialog->SetReadOnly(wasReadOnly);
  dialog->setWindowTitle(caption);
  return accepted;
}

void TTemplatesWindow::PlaceBeside(QWidget* window) const {
  const QScreen* s = screen();
  const QRect area = s != nullptr ? s->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
  QSize outer = window->frameGeometry().size();
  // A window never shown has no frame yet: it will get one like this window's.
  if (outer == window->size()) outer += frameGeometry().size() - size();
  window->move(PlaceBesideWindow(frameGeometry(), outer, area));
}

// ---- drops -----------------------------------------------------------------------------------------

TRegisterNode* TTemplatesWindow::DraggedRegister(const QMimeData* mime) const {
  const QString format = QString::fromLatin1(TNetForm::kNodeMimeType);
  if (mime == nullptr || !mime->hasFormat(format)) return nullptr;
  const QString name = QString::fromUtf8(mime->data(format));
  if (name.isEmpty()) return nullptr;
  return dynamic_cast<TRegisterNode*>(FindNode(network_.Net().get(), name));
}

TRootNode* TTemplatesWindow::TemplateAt(QPoint pos) const {
  QTreeWidgetItem* item = tree_->itemAt(pos);
  return item != nullptr && ItemLevel(item) == 1 ? ItemNode(item) : nullptr;
}

bool TTemplatesWindow::AcceptsRegister(const QMimeData* mime) const {
  return NetworkOpen() && DraggedRegister(mime) != nullptr;
}

bool TTemplatesWindow::DropRegister(const QMimeData* mime, QPoint pos) {
  TRootNode* templ = TemplateAt(pos);
  TRegisterNode* reg = DraggedRegister(mime);
  if (!NetworkOpen() || templ == nullptr || reg == nullptr || !InTree(Templates(), templ)) return false;
  for (int i = 0; i < templ->NodeCount(); ++i)
    if (templ->Node(i)->Name() == reg->Name()) {
      ShowMessage(DuplicateText(*templ), TMsgIcon::Warning);
      return true;
    }
  AddRegister(*templ, *reg);
  RebuildTree(LastChildOr(templ));
  return true;
}

bool TTemplatesWindow::AcceptsTemplate(const QMimeData* mime) const {
  if (mime == nullptr || !mime->hasFormat(setup_.TemplateMimeType)) return false;
  QTreeWidgetItem* item = tree_->currentItem();
  return item != nullptr && ItemLevel(item) == 1 && ItemNode(item) != nullptr;
}

bool TTemplatesWindow::DropTemplate(const QMimeData* mime) {
  if (!AcceptsTemplate(mime)) return false;
  TRootNode* templ = ItemNode(tree_->currentItem());
  if (!InTree(Templates(), templ)) return false;
  std::unique_ptr<TRootNode> item = MakeItem(*templ);
  // A named template copied twice would give two items one name; an item's name serves nothing.
  if (Items().FindComponent(item->Name()) != nullptr) item->SetName(QString());
  TRootNode* made = item.get();
  Items().InsertComponent(std::move(item));
  RebuildList();
  SelectListItem(made);
  SaveTreeFileOrTell(network_, Items());
  return true;
}

// ---- the lower toolbar --------------------------------------------------------------------------------

void TTemplatesWindow::SetSelectedState(bool running) {
  TRootNode* item = SelectedItem();
  if (item == nullptr) return;
  ChangeState(*item, running);
  // A message box of the change ran the event loop, where the item may have gone.
  if (!InTree(Items(), item)) {
    RebuildList();
    return;
  }
  // A start refused leaves the item stopped.
  const int image = item->Enabled() ? iiPLAY : iiSTOP;
  item->SetImageIndex(image);
  if (QTreeWidgetItem* row = NodeItem(list_, item)) row->setIcon(0, ImageIcon(image));
  SaveTreeFileOrTell(network_, Items());
}

void TTemplatesWindow::StartAllClick() {
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    list_->setCurrentItem(list_->topLevelItem(i));
    SetSelectedState(true);
  }
}

QAction* TTemplatesWindow::AddItemCommand(int image, const QString& hint, const char* name) {
  auto* a = new QAction(ImageIcon(image), hint, bottomBar_);
  a->setObjectName(QString::fromLatin1(name));
  bottomBar_->insertAction(deleteItemAction_, a);
  return a;
}

void TTemplatesWindow::DeleteItemClick() {
  if (TRootNode* item = SelectedItem()) DeleteItem(*item);
}

void TTemplatesWindow::DeleteItem(TRootNode& item) {
  delete &item;
  RebuildList();
  SaveTreeFileOrTell(network_, Items());
}

}  // namespace vexa
