#include "ui/parts/NodeViews.h"

#include <QHeaderView>
#include <QMimeData>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <map>
#include <memory>

#include "core/RootNode.h"
#include "ui/parts/ImageList.h"

namespace vexa {

namespace {

constexpr int kNodeRole = Qt::UserRole;

// One icon per picture for a whole build, shared by its items rather than made for each.
class TIcons {
 public:
  const QIcon& For(int index) {
    auto it = icons_.find(index);
    if (it == icons_.end()) it = icons_.emplace(index, ImageIcon(index)).first;
    return it->second;
  }

 private:
  std::map<int, QIcon> icons_;
};

void Link(QTreeWidgetItem* item, TRootNode* node, TIcons& icons) {
  SetItemCaption(item, node->Caption());
  item->setIcon(0, icons.For(node->ImageIndex()));
  item->setData(0, kNodeRole, QVariant::fromValue(static_cast<void*>(node)));
  node->SetPData(item);
}

// Built while the items are not yet in a view: an item in a view tells the model of every child
// and every field set, which for a plant's tens of thousands of items costs more than the items.
void AddChildren(QTreeWidgetItem* parent, TRootNode* node, TIcons& icons) {
  for (int i = 0; i < node->ComponentCount(); ++i) {
    auto* child = dynamic_cast<TRootNode*>(node->Component(i));
    if (child == nullptr || !child->Visible()) continue;
    auto* item = new QTreeWidgetItem(parent);
    Link(item, child, icons);
    AddChildren(item, child, icons);
  }
}

}  // namespace

void SetItemCaption(QTreeWidgetItem* item, const QString& caption) {
  item->setText(0, caption);
  // Where the view is too narrow for the whole caption, the tool tip shows it.
  item->setToolTip(0, caption);
}

void ScrollSideways(QTreeView* view) {
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // A column as wide as its longest caption, so the view scrolls to it instead of cutting it.
  view->header()->setStretchLastSection(false);
  view->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

void BuildTreeView(QTreeWidget* view, TRootNode* root) {
  ScrollSideways(view);
  view->clear();
  if (root == nullptr) return;
  TIcons icons;
  auto top = std::make_unique<QTreeWidgetItem>();
  Link(top.get(), root, icons);
  AddChildren(top.get(), root, icons);
  QTreeWidgetItem* shown = top.get();
  view->addTopLevelItem(top.release());
  shown->setExpanded(true);
}

void BuildListView(QTreeWidget* view, TRootNode* root) {
  view->clear();
  if (root == nullptr) return;
  TIcons icons;
  for (int i = 0; i < root->ComponentCount(); ++i) {
    auto* node = dynamic_cast<TRootNode*>(root->Component(i));
    if (node == nullptr) continue;
    auto* item = new QTreeWidgetItem(view);
    Link(item, node, icons);
    item->setText(1, QStringLiteral("0"));
  }
}

QMimeData* NodeMimeData(const QList<QTreeWidgetItem*>& items, const QString& format) {
  const TRootNode* node = items.isEmpty() ? nullptr : ItemNode(items.first());
  if (node == nullptr || format.isEmpty()) return nullptr;
  auto data = std::make_unique<QMimeData>();
  data->setData(format, node->Name().toUtf8());
  return data.release();  // the view's drag takes it
}

TRootNode* ItemNode(const QTreeWidgetItem* item) {
  if (item == nullptr) return nullptr;
  return static_cast<TRootNode*>(item->data(0, kNodeRole).value<void*>());
}

QTreeWidgetItem* NodeItem(const QTreeWidget* view, const TRootNode* node) {
  if (view == nullptr || node == nullptr || node->PData() == nullptr) return nullptr;
  // Compared as addresses only: PData is not dereferenced before it is known to be an item here.
  for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(view)); *it != nullptr; ++it)
    if (*it == node->PData()) return ItemNode(*it) == node ? *it : nullptr;
  return nullptr;
}

int ItemLevel(const QTreeWidgetItem* item) {
  int level = 0;
  for (const QTreeWidgetItem* p = item ? item->parent() : nullptr; p != nullptr; p = p->parent()) ++level;
  return level;
}

}  // namespace vexa
