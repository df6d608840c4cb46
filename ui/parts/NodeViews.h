#pragma once
// Tree and list views of nodes. An item keeps its node in its data and the node keeps its item in
// PData, so a window can go from a click to the node and from a node to its item.

#include <QList>

class QMimeData;
class QString;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TRootNode;

// Rebuilds the view as the tree under root: one item per visible node, in ownership order (value
// labels and invisible nodes are left out with everything below them); the top item is expanded.
// With no root the view is only emptied. Captions are never cut: the view scrolls sideways to a
// long one (ScrollSideways), and each item's tool tip is its whole caption.
void BuildTreeView(QTreeWidget* view, TRootNode* root);

// A one-column tree as wide as its longest caption, with a horizontal scroll bar when it is wider
// than the view.
void ScrollSideways(QTreeView* view);

// An item's caption and its tool tip, the whole caption; for a renamed node too.
void SetItemCaption(QTreeWidgetItem* item, const QString& caption);

// Rebuilds the view as a list of root's child nodes, one row each: caption, image, and "0" in the
// second column. With no root the view is only emptied.
void BuildListView(QTreeWidget* view, TRootNode* root);

// The node an item of either view shows; null for none.
TRootNode* ItemNode(const QTreeWidgetItem* item);

// What a drag of the items carries: the first item's node name under `format`, and nothing else.
// The view's own item data is left out: an item's node is a pointer, which has no place outside
// the program (and the toolkit cannot write it). Null without a node to drag.
QMimeData* NodeMimeData(const QList<QTreeWidgetItem*>& items, const QString& format);

// The node's item in this view, found through its PData. Null when the node's PData belongs to no
// item of this view (another view was built since, or this one was rebuilt without the node): a
// node never clears its PData, so it may point at an item that no longer exists.
QTreeWidgetItem* NodeItem(const QTreeWidget* view, const TRootNode* node);

// Depth of an item: 0 for a top-level item.
int ItemLevel(const QTreeWidgetItem* item);

}  // namespace vexa
