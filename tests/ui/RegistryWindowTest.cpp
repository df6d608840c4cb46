// The channel templates window as the operator uses it, and a REGISTRY tree replaced under it.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <new>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/DeviceSearch.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/config/RegistryUnit.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class RegistryWindowTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkdir(QStringLiteral("Config"));
  }
  void TearDown() override {
    window.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  // Saved: "001" with the register templates "Температура" (FLOAT, R) and "Уставка" (INT, RW),
  // "002" with none; each with its hidden identifier register first.
  void SaveTwoTemplates() {
    Registry()->SetComments(QStringLiteral("Все шаблоны"));
    TRootNode* first = AddChannel(QStringLiteral("001"));
    first->SetComments(QStringLiteral("Аналоговый вход"));
    AddRegister(first, QStringLiteral("Температура"), rtFLOAT, false);
    AddRegister(first, QStringLiteral("Уставка"), rtINT, true)->SetComments(QStringLiteral("Зона 1"));
    AddChannel(QStringLiteral("002"));
    ASSERT_TRUE(SaveTreeFile(Current(), *Registry()));
  }
  TRootNode* AddChannel(const QString& caption) {
    auto* channel = new TRootNode(Registry().get());
    channel->SetCaption(caption);
    channel->SetImageIndex(iiCHANNEL);
    (new TRegisterNode(channel))->SetVisible(false);
    return channel;
  }
  static TRegisterNode* AddRegister(TRootNode* channel, const QString& caption, TRegisterType type, bool rw) {
    auto* reg = new TRegisterNode(channel);
    reg->SetCaption(caption);
    reg->SetImageIndex(iiREGISTER);
    reg->SetRegisterType(type);
    reg->SetUserCanWRITE(rw);
    return reg;
  }

  TRegistryForm& Open() {
    mainForm = std::make_unique<TMainForm>(Current());
    window = std::make_unique<TRegistryForm>(Current(), mainForm.get());
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return *window;
  }

  TRootNode* Channel(int i) { return Registry()->Node(i); }
  TRegisterNode* Reg(int channel, int i) {
    return dynamic_cast<TRegisterNode*>(Registry()->Node(channel)->Node(i));
  }
  // The window's parts, found by their names.
  QTreeWidget* Tree() const { return Child<QTreeWidget>(*window, "templatesTree"); }
  QToolBar* ToolBar() const { return Child<QToolBar>(*window, "toolBar"); }
  QWidget* TypeBar() const { return Child<QWidget>(*window, "typeBar"); }
  QComboBox* TypeList() const { return Child<QComboBox>(*window, "typeBox"); }
  QComboBox* AccessList() const { return Child<QComboBox>(*window, "accessBox"); }
  QPlainTextEdit* Comments() const { return Child<QPlainTextEdit>(*window, "commentsField"); }
  QSplitter* Splitter() const { return Child<QSplitter>(*window, "splitter"); }
  QTreeWidgetItem* Item(TRootNode* node) const { return NodeItem(Tree(), node); }
  void ClickItem(TRootNode* node) {
    QTreeWidgetItem* item = Item(node);
    ASSERT_NE(item, nullptr);
    Tree()->scrollToItem(item);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(item).center());
  }
  // A click on the toolbar button of the command of that name.
  void Click(const char* command) {
    QTest::mouseClick(ToolBar()->widgetForAction(Child<QAction>(*window, command)), Qt::LeftButton);
  }
  // F2 on the selected item, the text typed over its caption, Enter (or Escape).
  void EditCaption(const QString& text, Qt::Key key = Qt::Key_Return) {
    QTreeWidget* tree = Tree();
    KeyClick(tree, Qt::Key_F2);
    auto* editor = tree->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    KeyClick(editor, Qt::Key_A, Qt::ControlModifier);
    TypeText(editor, text);
    QTest::keyClick(editor, key);
    QTest::qWait(0);  // the editor commits once the key is through
  }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TRegistryForm> window;
};

TEST_F(RegistryWindowTest, ShowingOpensTheSavedFileAndCountsAToolWindow) {
  SaveTwoTemplates();
  TRegistryForm& form = Open();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Шаблоны каналов"));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  QStringList hints;
  for (QAction* a : ToolBar()->actions())
    if (!a->isSeparator()) hints << a->toolTip();
  EXPECT_EQ(hints, (QStringList{"Открыть", "Сохранить", "Добавить", "Удалить"}));
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
  QTreeWidgetItem* root = Tree()->topLevelItem(0);
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->childCount(), 2);  // the identifier register is not shown

  // Edits never saved are gone once the window is closed and shown again.
  ClickItem(Channel(0));
  TypeText(Comments(), QStringLiteral("правка"));
  Click("addAction");
  form.close();
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  form.show();
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
  EXPECT_EQ(Channel(0)->Comments(), QStringLiteral("Аналоговый вход"));
  EXPECT_EQ(Channel(0)->NodeCount(), 3);

  // A missing or damaged file leaves just the root.
  for (const QByteArray& content : {QByteArray(), QByteArray("damaged")}) {
    QFile file(ConfigFilePath(Current().Dir(), QStringLiteral("REGISTRY")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    if (content.isEmpty()) file.remove();
    Click("openAction");
    EXPECT_EQ(Registry()->ComponentCount(), 0);
    EXPECT_EQ(Tree()->topLevelItem(0)->text(0), QStringLiteral("Шаблоны каналов"));
    EXPECT_EQ(Tree()->topLevelItem(0)->childCount(), 0);
  }
}

TEST_F(RegistryWindowTest, AddAndDeleteSelectWhatTheRulesSayInTheRebuiltTree) {
  SaveTwoTemplates();
  TRegistryForm& form = Open();
  QTreeWidget* tree = Tree();
  // Nothing selected: nothing happens.
  Click("addAction");
  Click("deleteAction");
  EXPECT_EQ(Registry()->NodeCount(), 2);

  // The root: a new template, selected, expanded and showing no children; "Удалить" then on the
  // root does nothing, not even a rebuild.
  ClickItem(Registry().get());
  QTreeWidgetItem* rootItem = tree->topLevelItem(0);
  Click("deleteAction");
  EXPECT_EQ(tree->topLevelItem(0), rootItem);
  Click("addAction");
  ASSERT_EQ(Registry()->NodeCount(), 3);
  EXPECT_EQ(form.SelectedNode(), Channel(2));
  EXPECT_EQ(tree->selectedItems().value(0), Item(Channel(2)));
  EXPECT_TRUE(Item(Channel(2))->isExpanded());
  EXPECT_EQ(Item(Channel(2))->text(0), QStringLiteral("Шаблон канала"));
  EXPECT_EQ(Item(Channel(2))->childCount(), 0);

  // A register template: a sibling behind it, selected.
  Item(Channel(0))->setExpanded(true);
  ClickItem(Reg(0, 1));
  Click("addAction");
  ASSERT_EQ(Channel(0)->NodeCount(), 4);
  EXPECT_EQ(form.SelectedNode(), Reg(0, 3));
  EXPECT_EQ(Item(Reg(0, 3))->text(0), QStringLiteral("Шаблон регистра"));

  // Deleting the only visible register template selects its channel template.
  ClickItem(Channel(1));
  Click("addAction");
  EXPECT_EQ(form.SelectedNode(), Channel(2)) << "the last child of the root";
  Item(Channel(1))->setExpanded(true);
  ClickItem(Reg(1, 1));
  Click("deleteAction");
  EXPECT_EQ(Channel(1)->NodeCount(), 1);
  EXPECT_EQ(form.SelectedNode(), Channel(1));
  EXPECT_EQ(Item(Channel(1))->childCount(), 0);
}

TEST_F(RegistryWindowTest, CaptionTypeAccessAndCommentsOfTheSelectedNode) {
  SaveTwoTemplates();
  Open();
  QComboBox* type = TypeList();
  QComboBox* access = AccessList();
  Item(Channel(0))->setExpanded(true);

  const struct {
    TRootNode* Node;
    int Type;  // -1: both lists cleared and disabled
    int Access;
    const char* Comments;
    const char* Caption;  // typed in place
  } cases[] = {
      {Reg(0, 1), rtFLOAT, 0, "", "Т1"},
      {Channel(0), -1, -1, "Аналоговый вход", "005"},
      {Reg(0, 2), rtINT, 1, "Зона 1", "Уставка зоны"},
      {Registry().get(), -1, -1, "Все шаблоны", "Шаблоны"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Caption);
    ClickItem(c.Node);
    EXPECT_EQ(type->currentIndex(), c.Type);
    EXPECT_EQ(access->currentIndex(), c.Access);
    EXPECT_EQ(type->isEnabled(), c.Type >= 0);
    EXPECT_EQ(access->isEnabled(), c.Type >= 0);
    EXPECT_EQ(Comments()->toPlainText(), QString::fromUtf8(c.Comments));
    EditCaption(QString::fromUtf8(c.Caption));
    EXPECT_EQ(c.Node->Caption(), QString::fromUtf8(c.Caption));
    KeyClick(Comments(), Qt::Key_A, Qt::ControlModifier);
    TypeText(Comments(), QStringLiteral("Печь"));
    KeyClick(Comments(), Qt::Key_Backspace);
    EXPECT_EQ(c.Node->Comments(), QStringLiteral("Печ"));
  }
  EditCaption(QStringLiteral("x"), Qt::Key_Escape);
  EXPECT_EQ(Registry()->Caption(), QStringLiteral("Шаблоны"));
  // Showing the selections changed nothing; the operator's choices reach the selected one only.
  EXPECT_EQ(Reg(0, 1)->RegisterType(), rtFLOAT);
  EXPECT_TRUE(Reg(0, 2)->UserCanWRITE());
  ClickItem(Reg(0, 1));
  QTest::keyClick(type, Qt::Key_Down);
  EXPECT_EQ(Reg(0, 1)->RegisterType(), rtDOUBLE);
  QTest::keyClick(access, Qt::Key_Down);
  EXPECT_TRUE(Reg(0, 1)->UserCanWRITE());
  QTest::keyClick(access, Qt::Key_Up);
  EXPECT_FALSE(Reg(0, 1)->UserCanWRITE());
  EXPECT_EQ(Reg(0, 2)->RegisterType(), rtINT);
}

TEST_F(RegistryWindowTest, ASavedNewTemplateShapesTheChannelsOfItsTypeOnTheNextSearch) {
  TRegistryForm& form = Open();
  ClickItem(Registry().get());
  Click("addAction");
  EditCaption(QStringLiteral("001"));
  TypeText(Comments(), QStringLiteral("Канал типа 1"));
  Click("addAction");
  Click("addAction");
  ClickItem(Reg(0, 2));
  QTest::keyClick(TypeList(), Qt::Key_End);
  Click("saveAction");
  Click("deleteAction");  // after the save: never seen by the search

  Settings()->SetDemo(true);
  TDeviceSearch search{Current()};
  search.Run(smAfresh);
  form.Rebuild();

  // The simulated regulator at address 1 has channels of type 1.
  const auto* channel = dynamic_cast<TRootNode*>(FindNode(Net().get(), QStringLiteral("D001C000")));
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->Comments(), QStringLiteral("Канал типа 1"));
  ASSERT_EQ(channel->NodeCount(), 3);
  EXPECT_FALSE(channel->Node(0)->Visible());
  EXPECT_EQ(channel->Node(2)->Name(), QStringLiteral("D001C000R002"));
  EXPECT_EQ(channel->Node(2)->Caption(), QStringLiteral("Шаблон регистра"));
  EXPECT_EQ(dynamic_cast<TRegisterNode*>(channel->Node(2))->RegisterType(), rtUnknown);
  EXPECT_EQ(Item(Channel(0))->childCount(), 2);
  EXPECT_EQ(form.SelectedNode(), nullptr);
}

// The old tree is kept alive, so a command that still used its items would show in it.
TEST_F(RegistryWindowTest, EveryCommandOnAReplacedTreeOnlyRebuildsIt) {
  SaveTwoTemplates();
  TRegistryForm& form = Open();
  QTreeWidget* tree = Tree();
  const struct {
    const char* Case;
    std::function<void()> Operator;
  } cases[] = {
      {"Добавить", [&] { Click("addAction"); }},
      {"Удалить", [&] { Click("deleteAction"); }},
      {"Сохранить", [&] { Click("saveAction"); }},
      {"Открыть", [&] { Click("openAction"); }},
      {"type", [&] { QTest::keyClick(TypeList(), Qt::Key_Down); }},
      {"access", [&] { QTest::keyClick(AccessList(), Qt::Key_Up); }},
      {"comments", [&] { TypeText(Comments(), QStringLiteral("x")); }},
      {"caption", [&] { EditCaption(QStringLiteral("x")); }},
      {"selection", [&] { QTest::keyClick(tree, Qt::Key_Up); }},
  };
  const QString path = ConfigFilePath(Current().Dir(), QStringLiteral("REGISTRY"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    Item(Channel(0))->setExpanded(true);
    ClickItem(Reg(0, 2));
    std::unique_ptr<TRootNode> old(Registry().release());
    CreateTreeRoot(Registry(), QStringLiteral("REGISTRY"), QStringLiteral("Новые шаблоны"), iiCHANNELS);
    AddChannel(QStringLiteral("007"));
    const QByteArray saved = FileBytes(path);
    EXPECT_EQ(form.SelectedNode(), nullptr);

    c.Operator();
    QTest::qWait(20);

    auto* setpoint = dynamic_cast<TRegisterNode*>(old->Node(0)->Node(2));
    EXPECT_EQ(old->NodeCount(), 2);
    EXPECT_EQ(old->Node(0)->NodeCount(), 3);
    EXPECT_EQ(setpoint->Caption(), QStringLiteral("Уставка"));
    EXPECT_EQ(setpoint->Comments(), QStringLiteral("Зона 1"));
    EXPECT_EQ(setpoint->RegisterType(), rtINT);
    EXPECT_TRUE(setpoint->UserCanWRITE());
    EXPECT_EQ(Registry()->NodeCount(), 1);
    EXPECT_EQ(Registry()->Node(0)->NodeCount(), 1);
    EXPECT_EQ(FileBytes(path), saved);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Новые шаблоны"));
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(form.SelectedNode(), nullptr);
    Click("openAction");  // the saved templates again for the next case
  }
}

// A search frees the root before it makes the new one, which may then sit at the same address.
TEST_F(RegistryWindowTest, ARootMadeWhereTheOldOneWasIsStillANewTree) {
  SaveTwoTemplates();
  Open();
  ClickItem(Registry().get());
  TRootNode* root = Registry().get();
  root->~TRootNode();
  new (root) TRootNode(nullptr);
  root->SetCaption(QStringLiteral("Пусто"));

  Click("addAction");
  EXPECT_EQ(Registry()->ComponentCount(), 0);
  EXPECT_EQ(Tree()->topLevelItem(0)->text(0), QStringLiteral("Пусто"));
  ClickItem(Registry().get());
  Click("addAction");
  EXPECT_EQ(Registry()->ComponentCount(), 1);
}

TEST_F(RegistryWindowTest, TheTreeGivesWayWhenTheCommentsWouldGoBelowFiftyPixels) {
  TRegistryForm& form = Open();
  QSplitter* splitter = Splitter();
  form.resize(260, 600);
  splitter->setSizes({480, splitter->height() - 480});
  form.resize(260, 350);
  EXPECT_EQ(Comments()->height(), TRegistryForm::kCommentsMinimum);
  EXPECT_EQ(Tree()->height(), form.height() - ToolBar()->height() - TypeBar()->height() -
                                  TRegistryForm::kCommentsMinimum - splitter->handleWidth());
  // The tree keeps that height: room gained goes to the comments.
  const int tree = Tree()->height();
  form.resize(260, 500);
  EXPECT_EQ(Tree()->height(), tree);
  EXPECT_EQ(Comments()->height(), 200);
  form.resize(100, 100);
  EXPECT_EQ(form.size(), QSize(217, 350));
}

TEST_F(RegistryWindowTest, Screenshots) {
  const QString dir = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
  QDir().mkpath(dir);
  SaveTwoTemplates();
  TRegistryForm& form = Open();
  Item(Channel(0))->setExpanded(true);
  Item(Channel(1))->setExpanded(true);
  ClickItem(Reg(0, 2));
  QTest::mouseMove(Comments()->viewport());  // no tool button under the pointer
  QTest::qWait(100);
  EXPECT_TRUE(form.grab().save(dir + QStringLiteral("/registry-window.png")));
}

}  // namespace
}  // namespace vexa::test
