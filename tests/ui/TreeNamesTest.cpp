// Whole names in the trees of the processes window, the structure window and the print preview: a
// caption wider than its narrow tree scrolls into view sideways, and the pointer resting on it shows
// the whole caption as a tool tip.

#include <gtest/gtest.h>

#include <QDir>
#include <QHelpEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <memory>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "processes/gui/TasksUnit.h"
#include "processes/model/CommandNode.h"
#include "reports/gui/PrintPreviewUnit.h"
#include "reports/model/ReportNode.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/config/NetUnit.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

const QString kLongName = QStringLiteral("Уставка температуры.Канал 001.Регулятор 000.Котельная 2");

// The operator rests the pointer on the node's item: the tool tip that comes up.
QString HoverTip(QTreeWidget* tree, TRootNode* node) {
  QTreeWidgetItem* item = NodeItem(tree, node);
  if (item == nullptr) return QStringLiteral("no item");
  tree->scrollToItem(item);
  const QPoint at = tree->visualItemRect(item).center();
  QTest::mouseMove(tree->viewport(), at);
  QHelpEvent help(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
  QApplication::sendEvent(tree->viewport(), &help);
  const QString text = QToolTip::isVisible() ? QToolTip::text() : QStringLiteral("no tool tip");
  QToolTip::hideText();
  return text;
}

// The tree is narrower than the caption: its horizontal scroll bar is there, and scrolled to its end
// the whole caption lies inside the view.
void ExpectScrollsToTheWholeCaption(QTreeWidget* tree, TRootNode* node) {
  QTreeWidgetItem* item = NodeItem(tree, node);
  ASSERT_NE(item, nullptr);
  ProcessEventsFor(20);  // the column takes its contents' width once laid out
  const int captionRight =
      tree->visualItemRect(item).left() + tree->fontMetrics().horizontalAdvance(kLongName);
  ASSERT_GT(captionRight, tree->viewport()->width()) << "the test needs a caption wider than the tree";
  QScrollBar* bar = tree->horizontalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_GT(bar->maximum(), 0);
  bar->setValue(bar->maximum());
  const QRect rect = tree->visualItemRect(item);
  EXPECT_LE(rect.left() + tree->fontMetrics().horizontalAdvance(kLongName), tree->viewport()->width() + 1);
  EXPECT_EQ(item->text(0), kLongName) << "the text itself is whole";
  bar->setValue(0);
}

class TreeNamesTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    Settings()->SetDemo(true);
    mainForm = std::make_unique<TMainForm>(Current());
    mainForm->SetNetworkOpen(true);
  }
  void TearDown() override {
    mainForm.reset();
    TVexaTest::TearDown();
  }
  std::unique_ptr<TMainForm> mainForm;
};

TEST_F(TreeNamesTest, TheProcessTemplatesTreeScrollsSidewaysAndTipsTheWholeName) {
  auto* templ = new TRootNode(TTemplates().get());
  templ->SetName(QStringLiteral("P001"));
  templ->SetCaption(QStringLiteral("Отжиг"));
  auto* command = new TCommandNode(templ);
  command->SetName(TCustomRegister::RegisterName(0, 1, 4));
  command->SetCaption(kLongName);
  TTasksForm window(Current(), SessionOf(mainForm.get()));
  ASSERT_TRUE(Activate(&window));
  QTreeWidget* tree = Child<QTreeWidget>(window, "templatesTree");
  NodeItem(tree, templ)->setExpanded(true);
  ExpectScrollsToTheWholeCaption(tree, command);
  EXPECT_EQ(HoverTip(tree, command), kLongName);
  EXPECT_EQ(HoverTip(tree, templ), QStringLiteral("Отжиг"));
}

TEST_F(TreeNamesTest, TheStructureTreeScrollsSidewaysAndTipsTheWholeName) {
  TRootNode* regulator = &AddRegulatorNode(*Net(), 0, QStringLiteral("Регулятор 000"));
  TRootNode* channel = &AddChannelNode(*regulator, 1, QStringLiteral("Канал 001"));
  TRegisterNode* reg = &AddRegisterNode(*channel, 4, {.Caption = kLongName});
  TNetForm window(Current(), SessionOf(mainForm.get()));
  window.resize(220, window.height());
  ASSERT_TRUE(Activate(&window));
  QTreeWidget* tree = Child<QTreeWidget>(window, "networkTree");
  NodeItem(tree, regulator)->setExpanded(true);
  NodeItem(tree, channel)->setExpanded(true);
  ExpectScrollsToTheWholeCaption(tree, reg);
  EXPECT_EQ(HoverTip(tree, reg), kLongName);
}

TEST_F(TreeNamesTest, ThePrintPreviewsTreeScrollsSidewaysAndTipsTheWholeName) {
  TReportNode report(nullptr);
  report.SetCaption(QStringLiteral("Печь 1"));
  report.SetStartPoint(46363.5);
  report.SetLastPoint(46363.5 + 1.0 / 24);
  auto* reg = new TRegisterNode(&report);
  reg->SetName(TCustomRegister::RegisterName(0, 0, 1));
  reg->SetCaption(kLongName);
  reg->SetPoints(QStringList{DateTimeToStr(46363.5)});
  reg->SetDataList(QStringList{QStringLiteral("20")});
  TPrintPreviewForm form(SessionOf(mainForm.get()));
  form.SetReport(&report);
  bool seen = false;
  WhenModal<TPrintPreviewForm>([&](TPrintPreviewForm* f) {
    const auto close = qScopeGuard([f] { f->reject(); });
    ProcessEventsFor(50);
    ExpectScrollsToTheWholeCaption(Child<QTreeWidget>(*f, "reportTree"), reg);
    EXPECT_EQ(HoverTip(Child<QTreeWidget>(*f, "reportTree"), reg), kLongName);
    seen = true;
  });
  EXPECT_TRUE(form.Execute());
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace vexa::test
