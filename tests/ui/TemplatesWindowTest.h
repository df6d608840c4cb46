#pragma once
// What the tests of the processes and reports windows share: the window under test with its test
// timer, the operator's clicks on its toolbars and views, and drags from the network structure
// window and from its own templates tree.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <memory>

#include "core/RegisterNode.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/config/NetUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {

// What the network structure window's tree drag carries for a node.
inline std::unique_ptr<QMimeData> NetDrag(const QString& name) {
  auto mime = std::make_unique<QMimeData>();
  mime->setData(QString::fromLatin1(TNetForm::kNodeMimeType), name.toUtf8());
  return mime;
}
// Drags over a view's viewport and drops at `at`; whether it was taken.
inline bool DropOn(QTreeWidget* view, QPoint at, const QMimeData& mime) {
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &enter);
  QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &move);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &drop);
  EXPECT_EQ(move.isAccepted(), drop.isAccepted());
  return drop.isAccepted();
}

// The template picked in the window's tree with the mouse and dragged onto its list, as the operator
// makes a process or a report; whether the list took it.
inline bool DragTemplateToList(QTreeWidget* tree, QTreeWidget* list, TRootNode* templ) {
  QTreeWidgetItem* item = NodeItem(tree, templ);
  if (item == nullptr) return false;
  tree->scrollToItem(item);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  std::unique_ptr<QMimeData> mime(tree->model()->mimeData({tree->indexFromItem(item)}));
  return DropOn(list, list->viewport()->rect().center(), *mime);
}

template <class TWindow>
class TTemplatesWindowTest : public TVexaTest {
 protected:
  void TearDown() override {
    runner.reset();
    window.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  // The window, its tick run as the program runs it, on the test's timer.
  void MakeWindow() {
    runner.reset();
    window = std::make_unique<TWindow>(this->Current(), SessionOf(mainForm.get()));
    runner = std::make_unique<TManualTicks>(this->Current(), TWindow::kTick,
                                            [w = window.get()] { return w->Tick(); });
    timer = runner->Timer;
  }

  static TRootNode* Node(TRootNode* owner, const char* name, const char* caption) {
    auto* n = new TRootNode(owner);
    n->SetName(QString::fromLatin1(name));
    n->SetCaption(QString::fromUtf8(caption));
    return n;
  }
  static TRegisterNode* Register(TRootNode* owner, const QString& name, const char* caption) {
    auto* r = new TRegisterNode(owner);
    r->SetName(name);
    r->SetCaption(QString::fromUtf8(caption));
    r->SetRegisterType(rtINT);
    r->SetImageIndex(iiREGISTER);
    return r;
  }

  void Show() {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  // The window's parts, found by their names.
  QTreeWidget* Tree() const { return Child<QTreeWidget>(*window, "templatesTree"); }
  QTreeWidget* List() const { return Child<QTreeWidget>(*window, "itemsList"); }
  QToolBar* TopToolBar() const { return Child<QToolBar>(*window, "templatesToolBar"); }
  QToolBar* BottomToolBar() const { return Child<QToolBar>(*window, "itemsToolBar"); }

  // A click on the button of the command of that name on the toolbar.
  void Click(QToolBar* bar, const char* command) {
    QAction* action = Child<QAction>(*window, command);
    QWidget* button = bar->widgetForAction(action);
    ASSERT_NE(button, nullptr) << command;
    ASSERT_TRUE(button->isVisible()) << command;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void ClickTop(const char* command) { Click(TopToolBar(), command); }
  void ClickBottom(const char* command) { Click(BottomToolBar(), command); }
  static void ClickItem(QTreeWidget* view, TRootNode* node) {
    QTreeWidgetItem* item = NodeItem(view, node);
    ASSERT_NE(item, nullptr);
    view->scrollToItem(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(item).center());
  }
  static void DoubleClickItem(QTreeWidget* view, TRootNode* node) {
    QTreeWidgetItem* item = NodeItem(view, node);
    ASSERT_NE(item, nullptr);
    view->scrollToItem(item);
    const QPoint at = view->visualItemRect(item).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  }

  bool DropRegister(const QString& name, TRootNode* target) {
    QTreeWidgetItem* item = NodeItem(Tree(), target);
    EXPECT_NE(item, nullptr);
    return item != nullptr && DropOn(Tree(), Tree()->visualItemRect(item).center(), *NetDrag(name));
  }
  // "Новый шаблон" under `templates`; the template made.
  TRootNode* NewTemplateIn(TRootNode& templates) {
    const int before = templates.NodeCount();
    ClickTop("newTemplateAction");
    EXPECT_EQ(templates.NodeCount(), before + 1);
    return templates.Node(templates.NodeCount() - 1);
  }
  // The template picked in the tree and dragged onto the list; the item made under `items`, or null.
  TRootNode* DropTemplateInto(TRootNode& items, TRootNode* templ) {
    const int before = items.NodeCount();
    if (!DragTemplateToList(Tree(), List(), templ)) return nullptr;
    return items.NodeCount() == before + 1 ? items.Node(before) : nullptr;
  }

  // The register dropped on the template once more, for each way of answering: the real warning
  // box, `told`, comes up inside the drop and is closed by the operator; the template keeps the one
  // node, and the tree goes on taking drops (`other` is taken afterwards).
  void DuplicateDropWithTheRealBox(TRootNode* templ, const QString& name, const QString& other,
                                   const QString& told) {
    ASSERT_TRUE(DropRegister(name, templ));
    const int count = templ->NodeCount();
    for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
      SCOPED_TRACE(BoxCloseName(how));
      Messages->Shown.clear();
      TRealMessageBoxes boxes(how);
      EXPECT_TRUE(DropRegister(name, templ));
      EXPECT_EQ(boxes.Answered, 1);
      EXPECT_EQ(Messages->Texts(), QStringList{told});
      EXPECT_EQ(templ->NodeCount(), count);
      EXPECT_TRUE(window->isVisible());
    }
    Messages->Shown.clear();
    EXPECT_TRUE(DropRegister(other, templ));
    EXPECT_EQ(templ->NodeCount(), count + 1);
    EXPECT_TRUE(Messages->Shown.empty());
  }

  QString Percent(TRootNode* item) const {
    QTreeWidgetItem* row = NodeItem(List(), item);
    return row != nullptr ? row->text(1) : QStringLiteral("no row");
  }
  bool RowImageIs(TRootNode* item, int image) const {
    QTreeWidgetItem* row = NodeItem(List(), item);
    return row != nullptr && row->icon(0).cacheKey() != 0 &&
           row->icon(0).pixmap(16).toImage() == ImageIcon(image).pixmap(16).toImage();
  }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TWindow> window;
  std::unique_ptr<TManualTicks> runner;
  TManualTimer* timer = nullptr;
};

}  // namespace vexa::test
