// Value labels on the diagram pages as the operator meets them: dropped from the network tree,
// moved by a second drop, marked by the lasso, deleted from their menu, gone with their page.

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDrag>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <map>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "ui/LabelViews.h"
#include "ui/LassoUnit.h"
#include "ui/MainUnit.h"
#include "ui/MnemoPages.h"
#include "ui/config/NetUnit.h"

namespace vexa::test {
namespace {

class LabelViewsTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkpath("Config");
    Settings()->SetMNames({QStringLiteral("Котельная"), QStringLiteral("Насосная")});
    Settings()->SetMFiles({Picture("a.png"), Picture("b.png")});
    ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
    BuildNet();
    Open();
  }
  void TearDown() override {
    form.reset();
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  QString Picture(const QString& name) {
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString path = Dir->filePath(name);
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
  }
  void BuildNet() {
    channel = &AddChannelNode(AddRegulatorNode(*Net(), 1, QStringLiteral("Печь")), 0);
    for (int r = 0; r < 3; ++r)
      regs.push_back(&AddRegisterNode(*channel, r, {.Caption = QStringLiteral("Т%1").arg(r)}));
  }
  void Open() {
    form = std::make_unique<TMainForm>(Current());
    form->Labels()->SelectedTreeNode = [this] { return selected; };
    form->SetNetworkOpen(true);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }

  // The window's pages and its commands, found by their names.
  QTabWidget* Tabs() const { return Child<QTabWidget>(*form, "diagramPages"); }
  QAction* Command(const char* name) const { return Child<QAction>(*form, name); }
  TMnemoPage* Page(int i) const { return qobject_cast<TMnemoPage*>(Tabs()->widget(i)); }
  // The widget that shows the label on its page, or null.
  TLabelView* ViewOf(const TLabelDisplay& label) const {
    for (TLabelView* v : form->findChildren<TLabelView*>())
      if (v->Label() == &label) return v;
    return nullptr;
  }
  TLabelView* View(TRegisterNode* reg) const {
    const TLabelDisplay* label = LabelOf(reg);
    return label != nullptr ? ViewOf(*label) : nullptr;
  }
  TLasso* Lasso() const { return Child<TLasso>(*form, "lasso"); }

  // The desktop turns a right click into a context menu request for the widget under the mouse.
  static void RightClick(QWidget* w) {
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(3, 3), w->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(w, &e);
  }

  // What the network tree's drag carries.
  static std::unique_ptr<QMimeData> TreeDrag() {
    auto mime = std::make_unique<QMimeData>();
    mime->setData(TMnemoLabels::kNodeFormat, "D001C000R001");
    return mime;
  }
  // Drags over a page's picture and drops at `at`; whether the picture took the drop.
  bool Drop(int page, QPoint at, const QMimeData& mime) {
    QWidget* picture = Page(page)->Picture();
    Tabs()->setCurrentIndex(page);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &drop);
    EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
    return drop.isAccepted();
  }

  std::unique_ptr<TMainForm> form;
  TRootNode* channel = nullptr;
  std::vector<TRegisterNode*> regs;
  TRootNode* selected = nullptr;
};

TEST_F(LabelViewsTest, ADropIsRefusedWhileClosedFromElsewhereOrOfANonRegister) {
  const auto tree = TreeDrag();
  QMimeData elsewhere;
  elsewhere.setText("D001C000R001");

  selected = regs[1];
  EXPECT_FALSE(Drop(0, {10, 10}, elsewhere));
  selected = channel;
  EXPECT_FALSE(Drop(0, {10, 10}, *tree));
  selected = nullptr;
  EXPECT_FALSE(Drop(0, {10, 10}, *tree));
  selected = regs[1];
  form->SetNetworkOpen(false);
  EXPECT_FALSE(Drop(0, {10, 10}, *tree));
  EXPECT_EQ(regs[1]->ComponentCount(), 0);
  EXPECT_EQ(channel->ComponentCount(), 3);

  form->SetNetworkOpen(true);
  EXPECT_TRUE(Drop(0, {10, 10}, *tree));
  EXPECT_EQ(regs[1]->ComponentCount(), 1);
}

TEST_F(LabelViewsTest, ADroppedLabelSitsAtTheDropPointShowsTheValueAndIsMarked) {
  const auto tree = TreeDrag();
  selected = regs[1];
  ASSERT_TRUE(Drop(1, {120, 70}, *tree));
  TLabelDisplay* label = LabelOf(regs[1]);
  ASSERT_NE(label, nullptr);
  TLabelView* view = View(regs[1]);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->parentWidget(), Page(1));
  EXPECT_EQ(view->pos(), Page(1)->Picture()->pos() + QPoint(120, 70));
  EXPECT_EQ(label->ParentName(), "ts1");
  EXPECT_EQ(view->text(), QStringLiteral("Т1 =  "));
  EXPECT_TRUE(regs[1]->Enabled());

  Settings()->SetDemo(true);
  regs[1]->Update(Line());
  EXPECT_EQ(view->text(), QStringLiteral("Т1 = %1 ").arg(regs[1]->LastStringData()));
  EXPECT_EQ(label->Width(), view->width());

  // The lasso frames it, 3 pixels around.
  TLasso* lasso = Lasso();
  EXPECT_EQ(lasso->REG(), regs[1]);
  EXPECT_EQ(lasso->parentWidget(), Page(1));
  EXPECT_EQ(lasso->geometry(), view->geometry().adjusted(-3, -3, 3, 3));
  EXPECT_TRUE(lasso->isVisible());
}

TEST_F(LabelViewsTest, ASecondDropMovesTheLabelToTheOtherPageWithAFreshPrefix) {
  const auto tree = TreeDrag();
  selected = regs[2];
  ASSERT_TRUE(Drop(0, {10, 20}, *tree));
  TLabelDisplay* label = LabelOf(regs[2]);
  label->SetPrefix(QStringLiteral("typed"));
  label->SetUnits(QStringLiteral("°C"));
  ASSERT_TRUE(Drop(1, {30, 40}, *tree));
  EXPECT_EQ(LabelOf(regs[2]), label);
  EXPECT_EQ(regs[2]->ComponentCount(), 1);
  TLabelView* view = View(regs[2]);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->parentWidget(), Page(1));
  EXPECT_EQ(view->text(), QStringLiteral("Т2 =  °C"));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the old view goes later
  EXPECT_TRUE(Page(0)->findChildren<TLabelView*>().isEmpty());
}

TEST_F(LabelViewsTest, TheLassoFollowsALabelThatAValueMadeWider) {
  const auto tree = TreeDrag();
  selected = regs[0];
  ASSERT_TRUE(Drop(0, {50, 50}, *tree));
  form->Labels()->Mark(regs[0]);
  TLabelView* view = View(regs[0]);
  const int before = view->width();
  LabelOf(regs[0])->SetValue(QStringLiteral("12345678901234567890"));
  EXPECT_GT(view->width(), before);
  EXPECT_EQ(Lasso()->geometry(), view->geometry().adjusted(-3, -3, 3, 3));
}

// Every poll gives a label a new text, often of another width: only the label and what it
// uncovers are repainted, never the window around the page (its tabs, its layout).
TEST_F(LabelViewsTest, ANewValueRepaintsTheLabelAloneNotTheWindow) {
  const auto tree = TreeDrag();
  selected = regs[0];
  ASSERT_TRUE(Drop(0, {50, 50}, *tree));
  QCoreApplication::processEvents();
  struct TCounter : QObject {
    std::map<QObject*, int> Paints, Layouts;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++Paints[o];
      if (e->type() == QEvent::LayoutRequest) ++Layouts[o];
      return false;
    }
  } counter;
  qApp->installEventFilter(&counter);
  for (const char* value : {"1", "12", "123", "1234", "12345", "123456"}) {
    LabelOf(regs[0])->SetValue(QString::fromLatin1(value));
    QCoreApplication::processEvents();
  }
  qApp->removeEventFilter(&counter);
  TLabelView* view = View(regs[0]);
  EXPECT_GE(counter.Paints[view], 1);
  EXPECT_EQ(counter.Paints[Tabs()->tabBar()], 0);
  EXPECT_EQ(counter.Layouts[form.get()], 0);
  EXPECT_EQ(counter.Layouts[Tabs()], 0);
  EXPECT_TRUE(view->text().contains(QStringLiteral("123456"))) << view->text().toStdString();
}

TEST_F(LabelViewsTest, MarkingBringsTheLabelsPageForwardAndAnythingElseClearsTheMark) {
  const auto tree = TreeDrag();
  selected = regs[0];
  ASSERT_TRUE(Drop(1, {50, 50}, *tree));
  Tabs()->setCurrentIndex(0);
  form->Labels()->Mark(regs[0]);
  EXPECT_EQ(Tabs()->currentIndex(), 1);
  EXPECT_EQ(Lasso()->REG(), regs[0]);

  for (TRootNode* other : {static_cast<TRootNode*>(regs[1]), channel, static_cast<TRootNode*>(nullptr)}) {
    form->Labels()->Mark(regs[0]);
    form->Labels()->Mark(other);
    EXPECT_EQ(Lasso()->REG(), nullptr);
    EXPECT_FALSE(Lasso()->isVisible());
  }
}

TEST_F(LabelViewsTest, DeletingTheMarkedLabelFromItsMenuStopsItsRegisterAndClearsTheFrame) {
  const auto tree = TreeDrag();
  selected = regs[1];
  ASSERT_TRUE(Drop(0, {60, 60}, *tree));
  Settings()->SetDemo(true);
  regs[1]->Update(Line());
  ASSERT_FALSE(regs[1]->DataList().isEmpty());
  TLabelView* view = View(regs[1]);
  ASSERT_EQ(Lasso()->REG(), regs[1]);

  RightClick(view);
  QMenu* menu = Child<QMenu>(*form, "labelMenu");
  ASSERT_TRUE(menu->isVisible());
  QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                    menu->actionGeometry(Command("deleteLabelAction")).center());
  EXPECT_EQ(regs[1]->ComponentCount(), 0);
  EXPECT_FALSE(regs[1]->Enabled());
  EXPECT_TRUE(regs[1]->DataList().isEmpty());
  EXPECT_EQ(Lasso()->REG(), nullptr);
  EXPECT_FALSE(Lasso()->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(Page(0)->findChildren<TLabelView*>().isEmpty());

  // Closed for configuration, the command does nothing.
  ASSERT_TRUE(Drop(0, {60, 60}, *tree));
  form->SetNetworkOpen(false);
  RightClick(View(regs[1]));
  EXPECT_FALSE(Command("deleteLabelAction")->isEnabled());
  Command("deleteLabelAction")->trigger();
  EXPECT_EQ(regs[1]->ComponentCount(), 1);
  menu->hide();
}

TEST_F(LabelViewsTest, ALabelOfAPageThatIsGoneIsDestroyedAfterItsFirstRefresh) {
  const auto tree = TreeDrag();
  selected = regs[0];
  ASSERT_TRUE(Drop(1, {50, 50}, *tree));
  selected = regs[2];
  ASSERT_TRUE(Drop(0, {10, 10}, *tree));
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  const QString lostName = regs[0]->Name(), keptName = regs[2]->Name();
  regs.clear();  // the restore replaces the tree

  // Restart with one page only: the label of the second page has nowhere to go.
  form.reset();
  Settings()->SetMNames({QStringLiteral("Котельная")});
  Settings()->SetMFiles({Dir->filePath("a.png")});
  ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
  Open();
  LoadNetworkState(Current());
  Current().StopPoller();
  auto* lost = dynamic_cast<TRegisterNode*>(FindNode(Net().get(), lostName));
  auto* kept = dynamic_cast<TRegisterNode*>(FindNode(Net().get(), keptName));
  ASSERT_NE(lost, nullptr);
  ASSERT_NE(kept, nullptr);
  ASSERT_NE(LabelOf(lost), nullptr);
  ASSERT_NE(View(kept), nullptr);
  EXPECT_EQ(View(kept)->parentWidget(), Page(0));

  Settings()->SetDemo(true);
  lost->Update(Line());
  kept->Update(Line());
  EXPECT_NE(LabelOf(lost), nullptr) << "not destroyed under the refresh that used it";
  QApplication::processEvents();
  EXPECT_EQ(LabelOf(lost), nullptr);
  EXPECT_FALSE(lost->Enabled());
  EXPECT_NE(LabelOf(kept), nullptr);
  EXPECT_TRUE(kept->Enabled());
}

TEST_F(LabelViewsTest, LabelsComeBackAfterARestartWithTheirLookAndPlace) {
  const auto tree = TreeDrag();
  selected = regs[1];
  ASSERT_TRUE(Drop(1, {77, 33}, *tree));
  TLabelDisplay* label = LabelOf(regs[1]);
  label->SetUnits(QStringLiteral("°C"));
  label->SetPrefix(QStringLiteral("Температура ="));
  label->SetColor(0x00FF00);
  label->SetBorderStyle(sbsNone);
  TFont font;
  font.Assign(label->Font());
  font.SetName(QStringLiteral("DejaVu Sans"));
  font.SetSize(14);
  font.SetColor(0x0000FF);
  font.SetStyle(fsBold);
  label->SetFont(font);
  const QRect placed = View(regs[1])->geometry();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  const QString name = regs[1]->Name();
  regs.clear();  // the restore replaces the tree

  // A new main window reads the state the old one left.
  form.reset();
  Open();
  LoadNetworkState(Current());
  Current().StopPoller();
  auto* reg = dynamic_cast<TRegisterNode*>(FindNode(Net().get(), name));
  ASSERT_NE(reg, nullptr);
  TLabelDisplay* back = LabelOf(reg);
  ASSERT_NE(back, nullptr);
  TLabelView* view = ViewOf(*back);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->parentWidget(), Page(1));
  EXPECT_EQ(view->geometry(), placed);
  EXPECT_EQ(view->text(), QStringLiteral("Температура =  °C"));
  EXPECT_EQ(view->font().family(), QStringLiteral("DejaVu Sans"));
  EXPECT_TRUE(view->font().bold());
  EXPECT_EQ(view->palette().color(QPalette::Window), QColor(0, 255, 0));
  EXPECT_EQ(view->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(view->frameStyle(), QFrame::NoFrame);
  EXPECT_TRUE(reg->Enabled());
  Settings()->SetDemo(true);
  reg->Update(Line());
  EXPECT_EQ(view->text(), QStringLiteral("Температура = %1 °C").arg(reg->LastStringData()));
}

// The structure window as the drag source: the operator clicks a register in its tree, drags it
// onto a page, selects it again to find its label, and double-clicks the label to find it there.
TEST_F(LabelViewsTest, TheStructureWindowsTreeDragsRegistersAndFollowsTheirLabels) {
  TNetForm net(Current(), SessionOf(form.get()));
  form->SetWindow(TWindowRole::NetTree, &net);
  Command("networkTreeAction")->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&net));
  QTreeWidget* tree = Child<QTreeWidget>(net, "networkTree");
  tree->expandAll();
  auto* item = static_cast<QTreeWidgetItem*>(regs[2]->PData());
  ASSERT_NE(item, nullptr);
  const QRect at = tree->visualItemRect(item);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
  ASSERT_EQ(net.SelectedNode(), regs[2]);

  // What the tree's own drag carries: the model's data for its selection.
  std::unique_ptr<QMimeData> mime(tree->model()->mimeData(tree->selectionModel()->selectedIndexes()));
  ASSERT_TRUE(Drop(1, {90, 40}, *mime));
  ASSERT_NE(View(regs[2]), nullptr);
  EXPECT_EQ(View(regs[2])->parentWidget(), Page(1));

  // Another page in front; selecting the register in the tree brings its label's page back.
  Tabs()->setCurrentIndex(0);
  form->Labels()->ClearMark();
  auto* other = static_cast<QTreeWidgetItem*>(regs[0]->PData());
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(other).center());
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
  EXPECT_EQ(Tabs()->currentIndex(), 1);
  EXPECT_EQ(Lasso()->REG(), regs[2]);

  // The label's double-click shows the register in the tree.
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(other).center());
  net.close();
  QTest::mouseDClick(View(regs[2]), Qt::LeftButton);
  EXPECT_TRUE(net.isVisible());
  EXPECT_EQ(net.SelectedNode(), regs[2]);
  EXPECT_EQ(Lasso()->REG(), regs[2]);

  // Closing the window clears the mark.
  net.close();
  EXPECT_EQ(Lasso()->REG(), nullptr);
}

// The operator has the other page in front and drags a register whose label sits on the first:
// pressing on the register does not bring the label's page forward, the drag starts from that
// press, and the label lands on the page in front. A click without a drag still finds the label.
TEST_F(LabelViewsTest, ARegisterDraggedFromTheStructureWindowLandsOnThePageInFront) {
  TNetForm net(Current(), SessionOf(form.get()));
  form->SetWindow(TWindowRole::NetTree, &net);
  Command("networkTreeAction")->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&net));
  QTreeWidget* tree = Child<QTreeWidget>(net, "networkTree");
  tree->expandAll();
  const QRect at = tree->visualItemRect(static_cast<QTreeWidgetItem*>(regs[2]->PData()));
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
  ASSERT_TRUE(Drop(0, {60, 60}, *TreeDrag()));
  ASSERT_EQ(View(regs[2])->parentWidget(), Page(0));
  // Another register current, and the second page in front, chosen on its tab.
  auto* other = static_cast<QTreeWidgetItem*>(regs[0]->PData());
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(other).center());
  QTabBar* tabs = Tabs()->tabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(1).center());
  ASSERT_EQ(Tabs()->currentIndex(), 1);

  QTest::mousePress(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
  EXPECT_EQ(net.SelectedNode(), regs[2]);
  EXPECT_EQ(Tabs()->currentIndex(), 1) << "the press brought the label's page forward";

  // A move with the button held, as the window system sends it, leaves the page as it is.
  const auto moveTo = [&](QPoint p) {
    QMouseEvent move(QEvent::MouseMove, QPointF(p), QPointF(tree->viewport()->mapToGlobal(p)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &move);
  };
  moveTo(at.center() + QPoint(1, 0));
  EXPECT_EQ(Tabs()->currentIndex(), 1);
  // The offscreen platform ends a drag as soon as it starts, so what the tree's drag carries is
  // dropped on the page in front first, as it would be during the drag; then the move past the drag
  // distance starts (and ends) the tree's own drag, and the button is let go.
  QMimeData carried;
  carried.setData(TMnemoLabels::kNodeFormat, regs[2]->Name().toLatin1());
  EXPECT_TRUE(Drop(1, {150, 90}, carried));
  const int away = QApplication::startDragDistance() + 5;
  moveTo(at.center() + QPoint(away, 0));
  QTest::mouseRelease(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center() + QPoint(away, 0));
  ASSERT_NE(View(regs[2]), nullptr);
  EXPECT_EQ(View(regs[2])->parentWidget(), Page(1));
  EXPECT_EQ(LabelOf(regs[2])->ParentName(), "ts1");
  EXPECT_EQ(Tabs()->currentIndex(), 1);
  EXPECT_EQ(Lasso()->REG(), regs[2]);

  // A click without a drag is a selection: it brings the label's page forward.
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(other).center());
  Tabs()->setCurrentIndex(0);
  QTest::mousePress(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
  EXPECT_EQ(Tabs()->currentIndex(), 0);
  QTest::mouseRelease(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
  EXPECT_EQ(Tabs()->currentIndex(), 1);
  // So does the keyboard.
  Tabs()->setCurrentIndex(0);
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Up);
  EXPECT_EQ(net.SelectedNode(), regs[1]);
  QTest::keyClick(tree, Qt::Key_Down);
  EXPECT_EQ(Tabs()->currentIndex(), 1);
  net.close();
}

// Dropped near the right or bottom edge, or made wider by its value, a label stays whole on its page.
TEST_F(LabelViewsTest, ALabelDroppedNearAnEdgeIsMovedInsideItsPage) {
  selected = regs[1];
  regs[1]->SetCaption(QStringLiteral("Уставка давления"));
  TMnemoPage* page = Page(0);
  const QPoint corner(page->width() - 5, page->height() - 3);
  ASSERT_TRUE(Drop(0, corner - page->Picture()->pos(), *TreeDrag()));
  TLabelView* view = View(regs[1]);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(page->rect().contains(view->geometry())) << "cut off at the corner";
  EXPECT_EQ(view->geometry().right(), page->rect().right());
  EXPECT_EQ(view->geometry().bottom(), page->rect().bottom());
  EXPECT_EQ(LabelOf(regs[1])->Left(), view->x()) << "the place is saved as shown";
  EXPECT_EQ(LabelOf(regs[1])->Top(), view->y());
  EXPECT_TRUE(view->text().startsWith(QStringLiteral("Уставка давления =")));

  LabelOf(regs[1])->SetValue(QStringLiteral("2,45"));
  LabelOf(regs[1])->SetUnits(QStringLiteral("бар"));
  EXPECT_TRUE(page->rect().contains(view->geometry())) << "a longer text pushed it off the page";
  EXPECT_EQ(view->geometry().right(), page->rect().right());
}

}  // namespace
}  // namespace vexa::test
