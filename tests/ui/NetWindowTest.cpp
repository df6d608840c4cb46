// The network structure window and the node and register dialogs, used as the operator uses them
// (also shown modally, as after a search); and the tree and list views of nodes they are built on.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/config/NetUnit.h"
#include "ui/config/RegisterPropertiesUnit.h"
#include "ui/config/RootPropertiesUnit.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/ColorSwatch.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

// ---- the operator's input -------------------------------------------------------------------------

bool ShowExposed(QWidget* w) {
  w->show();
  return QTest::qWaitForWindowExposed(w);
}

void Click(QWidget* w, QPoint pos = QPoint()) {
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, pos);
}

// Selects what the field holds and types text over it.
void TypeOver(QWidget* w, const QString& text) {
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(w, text);
}

void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(item).center());
}
void DoubleClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  const QPoint at = tree->visualItemRect(item).center();
  // The first click of a double-click selects, as the window system delivers it.
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void ClickTab(QTabWidget* tabs, const QString& caption) {
  QTabBar* bar = tabs->tabBar();
  for (int i = 0; i < bar->count(); ++i)
    if (bar->tabText(i) == caption) return Click(bar, bar->tabRect(i).center());
  ADD_FAILURE() << "no tab " << caption.toStdString();
}

// Answers the next modal window of class W while the code under test waits in its exec; a window
// still open after `inside` is rejected. The answer lives as long as the returned object.
template <class W>
struct TModalAnswer {
  std::function<void(W*)> Inside;
  int Seen = 0;
};

template <class W>
void PollModal(std::weak_ptr<TModalAnswer<W>> weak) {
  const auto answer = weak.lock();
  if (!answer) return;
  auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
  if (modal == nullptr || !modal->isVisible()) {
    QTimer::singleShot(10, [weak] { PollModal(weak); });
    return;
  }
  ++answer->Seen;
  answer->Inside(modal);
  if (auto* dialog = qobject_cast<QDialog*>(modal); dialog != nullptr && dialog->isVisible())
    dialog->reject();
}

template <class W>
std::shared_ptr<TModalAnswer<W>> WhenModal(std::function<void(W*)> inside) {
  auto answer = std::make_shared<TModalAnswer<W>>();
  answer->Inside = std::move(inside);
  std::weak_ptr<TModalAnswer<W>> weak = answer;
  QTimer::singleShot(0, [weak] { PollModal(weak); });
  return answer;
}

// The structure window's tree and the comments below it.
QTreeWidget* Tree(const TNetForm& form) {
  return Child<QTreeWidget>(form, "networkTree");
}
QPlainTextEdit* Comments(const TNetForm& form) {
  return Child<QPlainTextEdit>(form, "commentsField");
}

// ---- a small network ------------------------------------------------------------------------------

class NetWindowTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Net()->SetComments(QStringLiteral("Линия 1"));
    regulator = Node(Net().get(), "D005", "Регулятор 005", iiREGULATOR, "Адрес 5");
    channel = Node(regulator, "D005C001", "Канал 001", iiCHANNEL, "Тип 12: печь");
    idRegister = Register(channel, "D005C001R000", "Тип канала");
    idRegister->SetVisible(false);
    r3 = Register(channel, "D005C001R003", "Регистр 003");
    r3->SetComments(QStringLiteral("Температура зоны 1"));
    r4 = Register(channel, "D005C001R004", "Регистр 004");
    new TLabelDisplay(r4);
    // A channel whose only register is its hidden identifier register.
    bare = Node(regulator, "D005C002", "Канал 002", iiCHANNEL, "");
    Register(bare, "D005C002R000", "Тип канала")->SetVisible(false);
  }

  void TearDown() override {
    window.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  static TRootNode* Node(TRootNode* owner, const char* name, const char* caption, int image,
                         const char* comments) {
    auto* n = new TRootNode(owner);
    n->SetName(QString::fromLatin1(name));
    n->SetCaption(QString::fromUtf8(caption));
    n->SetImageIndex(image);
    n->SetComments(QString::fromUtf8(comments));
    return n;
  }
  static TRegisterNode* Register(TRootNode* owner, const char* name, const char* caption) {
    auto* r = new TRegisterNode(owner);
    r->SetName(QString::fromLatin1(name));
    r->SetCaption(QString::fromUtf8(caption));
    r->SetImageIndex(iiREGISTER);
    return r;
  }

  // The main window and the structure window, shown; the network open for configuration or not.
  TNetForm& Open(bool networkOpen) {
    mainForm = std::make_unique<TMainForm>(Current());
    mainForm->SetNetworkOpen(networkOpen);
    window = std::make_unique<TNetForm>(Current(), SessionOf(mainForm.get()));
    EXPECT_TRUE(ShowExposed(window.get()));
    return *window;
  }

  QTreeWidgetItem* Item(TRootNode* node) const { return NodeItem(Tree(*window), node); }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TNetForm> window;
  TRootNode* regulator = nullptr;
  TRootNode* channel = nullptr;
  TRegisterNode* idRegister = nullptr;
  TRegisterNode* r3 = nullptr;
  TRegisterNode* r4 = nullptr;
  TRootNode* bare = nullptr;
};

// ---- views of nodes -------------------------------------------------------------------------------

TEST_F(NetWindowTest, TreeViewShowsVisibleNodesLinkedBothWaysAndLeavesOutLabelsAndHiddenNodes) {
  QTreeWidget view;
  BuildTreeView(&view, Net().get());

  ASSERT_EQ(view.topLevelItemCount(), 1);
  QTreeWidgetItem* top = view.topLevelItem(0);
  EXPECT_TRUE(top->isExpanded());
  const struct {
    TRootNode* Node;
    int Level;
    int Children;
    const char* Caption;
  } cases[] = {
      {Net().get(), 0, 1, "Сеть"}, {regulator, 1, 2, "Регулятор 005"}, {channel, 2, 2, "Канал 001"},
      {r3, 3, 0, "Регистр 003"},   {r4, 3, 0, "Регистр 004"},          {bare, 2, 0, "Канал 002"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Caption);
    auto* item = static_cast<QTreeWidgetItem*>(c.Node->PData());
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->treeWidget(), &view);
    EXPECT_EQ(ItemNode(item), c.Node);
    EXPECT_EQ(NodeItem(&view, c.Node), item);
    EXPECT_EQ(ItemLevel(item), c.Level);
    EXPECT_EQ(item->childCount(), c.Children);
    EXPECT_EQ(item->text(0), QString::fromUtf8(c.Caption));
    EXPECT_FALSE(item->icon(0).isNull());
    // Items share icons within a build: each must still be its own node's picture.
    EXPECT_EQ(item->icon(0).pixmap(16).toImage(), ImageIcon(c.Node->ImageIndex()).pixmap(16).toImage());
  }
  // Ownership order below the channel, the hidden identifier register and the label left out.
  QTreeWidgetItem* channelItem = NodeItem(&view, channel);
  EXPECT_EQ(ItemNode(channelItem->child(0)), r3);
  EXPECT_EQ(ItemNode(channelItem->child(1)), r4);
  EXPECT_EQ(NodeItem(&view, idRegister), nullptr);
  EXPECT_FALSE(regulator->PData() == nullptr);
  EXPECT_FALSE(static_cast<QTreeWidgetItem*>(regulator->PData())->isExpanded());

  // A hidden regulator takes its whole subtree with it.
  regulator->SetVisible(false);
  BuildTreeView(&view, Net().get());
  EXPECT_EQ(view.topLevelItem(0)->childCount(), 0);
  EXPECT_EQ(NodeItem(&view, r3), nullptr);

  BuildTreeView(&view, nullptr);
  EXPECT_EQ(view.topLevelItemCount(), 0);
}

TEST_F(NetWindowTest, ListViewHasOneRowPerChildWithACountColumn) {
  QTreeWidget view;
  view.setColumnCount(2);
  BuildListView(&view, channel);
  // Lists show every child, hidden or not, and nothing below them.
  ASSERT_EQ(view.topLevelItemCount(), 3);
  const TRootNode* expected[] = {idRegister, r3, r4};
  for (int i = 0; i < 3; ++i) {
    QTreeWidgetItem* row = view.topLevelItem(i);
    EXPECT_EQ(ItemNode(row), expected[i]);
    EXPECT_EQ(expected[i]->PData(), row);
    EXPECT_EQ(row->text(0), expected[i]->Caption());
    EXPECT_EQ(row->text(1), QStringLiteral("0"));
    EXPECT_EQ(row->childCount(), 0);
  }

  BuildListView(&view, nullptr);
  EXPECT_EQ(view.topLevelItemCount(), 0);
}

TEST_F(NetWindowTest, ANodesItemIsFoundOnlyInTheViewThatLastShowedIt) {
  QTreeWidget first;
  QTreeWidget second;
  BuildTreeView(&first, Net().get());
  EXPECT_NE(NodeItem(&first, r3), nullptr);
  BuildListView(&second, channel);
  EXPECT_EQ(NodeItem(&first, r3), nullptr);
  EXPECT_EQ(NodeItem(&second, r3), second.topLevelItem(1));
  // Rebuilding the first view without the register's channel leaves it pointing at a freed row.
  BuildTreeView(&first, Net().get());
  BuildListView(&second, regulator);
  EXPECT_EQ(NodeItem(&second, r3), nullptr);
  EXPECT_EQ(NodeItem(nullptr, r3), nullptr);
  EXPECT_EQ(NodeItem(&first, nullptr), nullptr);
}

// ---- the window -----------------------------------------------------------------------------------

TEST_F(NetWindowTest, ShowingBuildsTheTreeAndCountsAToolWindowClosingUncounts) {
  TNetForm& form = Open(false);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Структура сети"));
  EXPECT_EQ(form.size(), QSize(217, 350));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(Comments(form)->toPlainText(), QStringLiteral("Комментарии"));
  EXPECT_TRUE(Comments(form)->isReadOnly());
  EXPECT_EQ(Comments(form)->height(), 72);
  ASSERT_EQ(Tree(form)->topLevelItemCount(), 1);
  EXPECT_EQ(ItemNode(Tree(form)->topLevelItem(0)), Net().get());
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
  EXPECT_FALSE(Child<QAction>(*mainForm, "restoreAction")->isEnabled());

  int closed = 0;
  QObject::connect(&form, &TNetForm::Closed, [&] { ++closed; });
  form.close();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  EXPECT_TRUE(Child<QAction>(*mainForm, "restoreAction")->isEnabled());

  // Shown again, it shows the network as it is now.
  r3->SetCaption(QStringLiteral("Температура"));
  ASSERT_TRUE(ShowExposed(&form));
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
  EXPECT_EQ(Item(r3)->text(0), QStringLiteral("Температура"));
  window.reset();
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
}

TEST_F(NetWindowTest, ShownModallyNearThePageItTakesClicksClosesByEscAndIsModelessAgain) {
  mainForm = std::make_unique<TMainForm>(Current());
  mainForm->SetNetworkOpen(true);
  ASSERT_TRUE(ShowExposed(mainForm.get()));
  window = std::make_unique<TNetForm>(Current(), SessionOf(mainForm.get()));
  TNetForm& form = *window;
  QTabWidget* pages = Child<QTabWidget>(*mainForm, "diagramPages");
  QWidget* page = pages->currentWidget() ? pages->currentWidget() : pages;

  bool modal = false;
  QPoint at;
  QString comments;
  int counted = 0;
  const auto answer = WhenModal<TNetForm>([&](TNetForm* shown) {
    modal = shown->windowModality() == Qt::ApplicationModal;
    at = page->mapFromGlobal(shown->pos());
    counted = mainForm->ToolWindowCount();
    ClickItem(Tree(*shown), NodeItem(Tree(*shown), regulator));
    comments = Comments(*shown)->toPlainText();
    QTest::keyClick(shown, Qt::Key_Escape);
  });
  EXPECT_EQ(mainForm->ShowModalNearPage(&form, 24, 24), int(QDialog::Rejected));

  EXPECT_EQ(answer->Seen, 1);
  EXPECT_TRUE(modal);
  EXPECT_EQ(at, QPoint(24, 24));
  EXPECT_EQ(counted, 1);
  EXPECT_EQ(comments, QStringLiteral("Адрес 5"));
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  // Opened from the menu afterwards it is the tool window it always was.
  EXPECT_EQ(form.windowModality(), Qt::NonModal);
  mainForm->ShowNearPage(&form, 48, 48);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // Already shown when asked (and so blocked by the modal window asking), it comes up modally too.
  bool modalAgain = false;
  const auto again = WhenModal<TNetForm>([&](TNetForm* shown) {
    modalAgain = shown->windowModality() == Qt::ApplicationModal;
    shown->close();
  });
  mainForm->ShowModalNearPage(&form, 24, 24);
  EXPECT_EQ(again->Seen, 1);
  EXPECT_TRUE(modalAgain);
}

// The save button where the file cannot be written: the operator reads why in a real box, closes
// it with Return, and saves again once the obstacle is gone.
TEST_F(NetWindowTest, ASaveThatFailsIsToldInARealBoxAndCanBeTriedAgain) {
  TNetForm& form = Open(true);
  Messages->Shown.clear();  // the main window's word on a folder without diagrams
  const QString path = ConfigFilePath(Dir->path(), QStringLiteral("NET"));
  QFile::remove(path);
  ASSERT_TRUE(QDir().mkpath(path));  // a folder where the file goes
  QWidget* save = Child<QToolBar>(form, "toolBar")->widgetForAction(Child<QAction>(form, "saveAction"));
  {
    TRealMessageBoxes boxes;
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(boxes.Answered, 1);
  }
  ASSERT_EQ(Messages->Shown.size(), 1U) << Messages->Texts().join("|").toStdString();
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_TRUE(Messages->Shown[0].Text.contains(path)) << Messages->Shown[0].Text.toStdString();
  EXPECT_TRUE(form.isVisible());

  ASSERT_TRUE(QDir(path).removeRecursively());
  QTest::mouseClick(save, Qt::LeftButton);
  EXPECT_EQ(Messages->Shown.size(), 1U);
  EXPECT_TRUE(QFileInfo(path).isFile());
}

TEST_F(NetWindowTest, ToolBarIsThereOnlyWhileTheNetworkIsOpen) {
  TNetForm& form = Open(false);
  EXPECT_FALSE(Child<QToolBar>(form, "toolBar")->isVisible());
  mainForm->SetNetworkOpen(true);
  EXPECT_TRUE(Child<QToolBar>(form, "toolBar")->isVisible());
  EXPECT_EQ(Child<QAction>(form, "saveAction")->toolTip(), QStringLiteral("Сохранить"));
  EXPECT_EQ(Child<QAction>(form, "propertiesAction")->toolTip(), QStringLiteral("Редактор свойств"));
  mainForm->SetNetworkOpen(false);
  EXPECT_FALSE(Child<QToolBar>(form, "toolBar")->isVisible());
}

TEST_F(NetWindowTest, SelectingAnItemShowsItsCommentsAndTellsTheNode) {
  TNetForm& form = Open(false);
  QList<TRootNode*> told;
  QObject::connect(&form, &TNetForm::NodeSelected, [&](TRootNode* node) {
    // The comments are already those of the node when it is told.
    EXPECT_EQ(Comments(form)->toPlainText(), node ? node->Comments() : QStringLiteral("Комментарии"));
    told << node;
  });
  QTreeWidget* tree = Tree(form);
  Item(regulator)->setExpanded(true);
  Item(channel)->setExpanded(true);

  ClickItem(tree, Item(r3));
  EXPECT_EQ(form.SelectedNode(), r3);
  EXPECT_EQ(Comments(form)->toPlainText(), QStringLiteral("Температура зоны 1"));
  ClickItem(tree, Item(channel));
  EXPECT_EQ(Comments(form)->toPlainText(), QStringLiteral("Тип 12: печь"));
  ClickItem(tree, Item(channel));  // no change, nothing told
  ClickItem(tree, Item(r4));
  EXPECT_TRUE(Comments(form)->toPlainText().isEmpty());
  EXPECT_EQ(told, (QList<TRootNode*>{r3, channel, r4}));
}

TEST_F(NetWindowTest, SelectNodeFindsTheItemThroughTheNodeAndRunsTheSelectionAgainWhenAlreadyCurrent) {
  TNetForm& form = Open(false);
  QList<TRootNode*> told;
  QObject::connect(&form, &TNetForm::NodeSelected, [&](TRootNode* node) { told << node; });

  form.SelectNode(r4);  // collapsed under its channel: opened to be seen
  EXPECT_EQ(form.SelectedNode(), r4);
  EXPECT_TRUE(Item(channel)->isExpanded());
  form.SelectNode(r4);
  form.SelectNode(idRegister);  // not in the tree
  form.SelectNode(nullptr);
  EXPECT_EQ(form.SelectedNode(), r4);
  EXPECT_EQ(told, (QList<TRootNode*>{r4, r4}));
}

TEST_F(NetWindowTest, RebuildAfterTheNetworkWasReplacedDropsTheSelection) {
  TNetForm& form = Open(false);
  form.SelectNode(r3);
  QList<TRootNode*> told;
  QObject::connect(&form, &TNetForm::NodeSelected, [&](TRootNode* node) { told << node; });

  CreateTreeRoot(Net(), QStringLiteral("NET"), QStringLiteral("Сеть"), iiTREE);
  regulator = channel = bare = nullptr;
  r3 = r4 = idRegister = nullptr;
  form.Rebuild();

  EXPECT_EQ(form.SelectedNode(), nullptr);
  EXPECT_EQ(told, (QList<TRootNode*>{nullptr}));
  EXPECT_EQ(Comments(form)->toPlainText(), QStringLiteral("Комментарии"));
  ASSERT_EQ(Tree(form)->topLevelItemCount(), 1);
  EXPECT_EQ(Tree(form)->topLevelItem(0)->childCount(), 0);
}

TEST_F(NetWindowTest, ItemsAreDraggedWithTheNodesNameAndNeverEditedInPlace) {
  TNetForm& form = Open(true);
  QTreeWidget* tree = Tree(form);
  EXPECT_EQ(tree->dragDropMode(), QAbstractItemView::DragOnly);
  EXPECT_TRUE(tree->dragEnabled());
  EXPECT_EQ(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
  for (TRootNode* node : {Net().get(), regulator, channel, static_cast<TRootNode*>(r3)}) {
    SCOPED_TRACE(node->Name().toStdString());
    const QModelIndex index = tree->indexFromItem(Item(node));
    EXPECT_TRUE(tree->model()->flags(index) & Qt::ItemIsDragEnabled);
    EXPECT_FALSE(tree->model()->flags(index) & Qt::ItemIsEditable);
    std::unique_ptr<QMimeData> data(tree->model()->mimeData({index}));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->data(QString::fromLatin1(TNetForm::kNodeMimeType)), node->Name().toUtf8());
    // The items' own data holds the node pointer, which the toolkit cannot write into a drag.
    EXPECT_EQ(data->formats(), QStringList{QString::fromLatin1(TNetForm::kNodeMimeType)});
  }
  // Editing keys do not open an editor either.
  ClickItem(tree, Item(regulator));
  QTest::keyClick(tree, Qt::Key_F2);
  EXPECT_EQ(tree->findChildren<QLineEdit*>().size(), 0);
}

TEST_F(NetWindowTest, SaveWritesTheNetworkFileUnderTheHourglass) {
  TNetForm& form = Open(true);
  QDir().mkpath(Dir->path() + QStringLiteral("/Config"));
  const QString path = ConfigFilePath(Current().Dir(), QStringLiteral("NET"));
  QList<bool> cursor;
  bool writtenWhileBusy = false;
  auto program = Services().BusyCursor;
  Services().BusyCursor = [&](bool busy) {
    if (!busy) writtenWhileBusy = QFile::exists(path);
    cursor << busy;
    program(busy);
  };

  Click(Child<QToolBar>(form, "toolBar")->widgetForAction(Child<QAction>(form, "saveAction")));

  EXPECT_EQ(cursor, (QList<bool>{true, false}));
  EXPECT_TRUE(writtenWhileBusy);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  std::unique_ptr<TRootNode> saved;
  LoadTreeInto(saved, path);
  ASSERT_NE(saved, nullptr);
  auto* reg = dynamic_cast<TRegisterNode*>(FindNode(saved.get(), QStringLiteral("D005C001R003")));
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->Caption(), QStringLiteral("Регистр 003"));
}

TEST_F(NetWindowTest, PropertiesNeedTheNetworkOpenAndASelectedItem) {
  TNetForm& form = Open(false);
  QTreeWidget* tree = Tree(form);
  auto any = WhenModal<QWidget>([](QWidget*) {});

  // Closed for configuration: a double-click opens nothing.
  DoubleClickItem(tree, Item(regulator));
  EXPECT_EQ(form.SelectedNode(), regulator);
  // Open, but nothing selected: the command does nothing.
  mainForm->SetNetworkOpen(true);
  tree->setCurrentItem(nullptr);
  Click(Child<QToolBar>(form, "toolBar")->widgetForAction(Child<QAction>(form, "propertiesAction")));
  QTest::qWait(50);
  EXPECT_EQ(any->Seen, 0);
}

TEST_F(NetWindowTest, NodeDialogOpensBesideTheWindowAndOkStoresCaptionAndComments) {
  TNetForm& form = Open(true);
  form.move(40, 30);
  QTest::qWait(20);
  QTreeWidget* tree = Tree(form);
  QList<TRootNode*> told;
  QObject::connect(&form, &TNetForm::NodeSelected, [&](TRootNode* node) { told << node; });

  QPoint at;
  auto ok = WhenModal<TRootPropertiesForm>([&](TRootPropertiesForm* d) {
    at = d->frameGeometry().topLeft();
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Свойства узла"));
    EXPECT_EQ(d->size(), QSize(184, 240));
    EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ((d->windowFlags() & Qt::WindowType_Mask), Qt::Tool);
    EXPECT_EQ(Child<QLineEdit>(*d, "nameEdit")->text(), QStringLiteral("Регулятор 005"));
    EXPECT_EQ(Child<QPlainTextEdit>(*d, "commentsEdit")->toPlainText(), QStringLiteral("Адрес 5"));
    TypeOver(Child<QLineEdit>(*d, "nameEdit"), QStringLiteral("Pech 2"));
    TypeOver(Child<QPlainTextEdit>(*d, "commentsEdit"), QStringLiteral("Adres 7"));
    Click(Child<QPushButton>(*d, "okButton"));
  });
  DoubleClickItem(tree, Item(regulator));

  EXPECT_EQ(ok->Seen, 1);
  EXPECT_EQ(at, QPoint(form.frameGeometry().right() + 1 + 4, form.frameGeometry().top()));
  EXPECT_EQ(regulator->Caption(), QStringLiteral("Pech 2"));
  EXPECT_EQ(regulator->Comments(), QStringLiteral("Adres 7"));
  EXPECT_EQ(Item(regulator)->text(0), QStringLiteral("Pech 2"));
  EXPECT_EQ(Comments(form)->toPlainText(), QStringLiteral("Adres 7"));
  // Selected by the first click, then told again after the command.
  EXPECT_EQ(told, (QList<TRootNode*>{regulator, regulator}));

  // "Отмена" stores nothing; the toolbar command opens the same dialog for the root.
  ClickItem(tree, Item(Net().get()));
  auto cancel = WhenModal<TRootPropertiesForm>([](TRootPropertiesForm* d) {
    EXPECT_EQ(Child<QLineEdit>(*d, "nameEdit")->text(), QStringLiteral("Сеть"));
    TypeOver(Child<QLineEdit>(*d, "nameEdit"), QStringLiteral("Set"));
    Click(Child<QPushButton>(*d, "cancelButton"));
  });
  Click(Child<QToolBar>(form, "toolBar")->widgetForAction(Child<QAction>(form, "propertiesAction")));
  EXPECT_EQ(cancel->Seen, 1);
  EXPECT_EQ(Net()->Caption(), QStringLiteral("Сеть"));
  EXPECT_EQ(Item(Net().get())->text(0), QStringLiteral("Сеть"));
}

TEST_F(NetWindowTest, DialogOpensLeftOfTheWindowWhenTheRightWouldLeaveTheScreen) {
  TNetForm& form = Open(true);
  const QRect screen = form.screen()->geometry();
  form.move(screen.right() - form.frameGeometry().width() - 20, 30);
  QTest::qWait(20);
  ASSERT_GT(form.frameGeometry().left(), 200);
  form.SelectNode(r3);

  QPoint at;
  QSize size;
  auto answer = WhenModal<TRegisterPropertiesForm>([&](TRegisterPropertiesForm* d) {
    at = d->frameGeometry().topLeft();
    size = d->frameGeometry().size();
    Click(Child<QPushButton>(*d, "cancelButton"));
  });
  DoubleClickItem(Tree(form), Item(r3));
  ASSERT_EQ(answer->Seen, 1);
  EXPECT_EQ(at, QPoint(form.frameGeometry().left() - 4 - size.width(), form.frameGeometry().top()));
}

TEST_F(NetWindowTest, RegisterDialogLoadsShowsTheFullScaleAndOkStoresEveryField) {
  r3->SetZero(0);
  r3->SetNotch(10);
  r3->SetPenWidth(3);
  r3->SetPenColor(0x0000FF);
  r3->SetDigits(2);
  r3->SetLoggingInterval(5);
  TNetForm& form = Open(true);
  form.SelectNode(r3);

  auto answer = WhenModal<TRegisterPropertiesForm>([&](TRegisterPropertiesForm* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Свойства регистра"));
    EXPECT_EQ(d->size(), QSize(184, 240));
    const QTabWidget* pages = Child<QTabWidget>(*d, "pageTabs");
    EXPECT_EQ(pages->tabText(pages->currentIndex()), QStringLiteral("Описание"));
    EXPECT_EQ(Child<QLineEdit>(*d, "nameEdit")->text(), QStringLiteral("Регистр 003"));
    EXPECT_EQ(Child<QPlainTextEdit>(*d, "commentsEdit")->toPlainText(), QStringLiteral("Температура зоны 1"));
    EXPECT_EQ(Child<QLabel>(*d, "fullScaleLabel")->text(), QStringLiteral("0 ... 50"));
    EXPECT_EQ(d->PenWidth(), 3);
    EXPECT_EQ(d->PenColor(), 0x0000FF);
    EXPECT_EQ(d->Digits(), 2);
    EXPECT_EQ(d->LoggingInterval(), 5);

    TypeOver(Child<QLineEdit>(*d, "nameEdit"), QStringLiteral("T1"));
    TypeOver(Child<QPlainTextEdit>(*d, "commentsEdit"), QStringLiteral("zona"));
    ClickTab(Child<QTabWidget>(*d, "pageTabs"), QStringLiteral("График"));
    TypeOver(Child<QSpinBox>(*d, "zeroSpin"), QStringLiteral("-50"));
    TypeOver(Child<QSpinBox>(*d, "notchSpin"), QStringLiteral("20"));
    EXPECT_EQ(Child<QLabel>(*d, "fullScaleLabel")->text(), QStringLiteral("-50 ... 50"));
    TypeOver(Child<QSpinBox>(*d, "penWidthSpin"), QStringLiteral("7"));
    ClickTab(Child<QTabWidget>(*d, "pageTabs"), QStringLiteral("Прочее"));
    TypeOver(Child<QSpinBox>(*d, "loggingIntervalSpin"), QStringLiteral("60"));
    Click(Child<QPushButton>(*d, "okButton"));
  });
  DoubleClickItem(Tree(form), Item(r3));

  ASSERT_EQ(answer->Seen, 1);
  EXPECT_EQ(r3->Caption(), QStringLiteral("T1"));
  EXPECT_EQ(r3->Comments(), QStringLiteral("zona"));
  EXPECT_EQ(r3->Zero(), -50);
  EXPECT_EQ(r3->Notch(), 20);
  EXPECT_EQ(r3->PenWidth(), 7);
  EXPECT_EQ(r3->PenColor(), 0x0000FF);
  EXPECT_EQ(r3->Digits(), 2);
  EXPECT_EQ(r3->LoggingInterval(), 60);
  EXPECT_EQ(Item(r3)->text(0), QStringLiteral("T1"));
  EXPECT_EQ(Comments(form)->toPlainText(), QStringLiteral("zona"));
}

TEST(RegisterPropertiesForm, FieldsHoldTheirRangesAndDefaultsBeforeARegisterIsLoaded) {
  QTemporaryDir dir;
  TNetwork network(dir.path(), nullptr);
  TRegisterPropertiesForm fresh(network);
  const struct {
    QSpinBox* Field;
    int Min, Max, Default;
  } cases[] = {
      {Child<QSpinBox>(fresh, "notchSpin"), 1, 10000, 10},
      {Child<QSpinBox>(fresh, "zeroSpin"), -10000, 10000, 0},
      {Child<QSpinBox>(fresh, "penWidthSpin"), 1, 100, 20},
      {Child<QSpinBox>(fresh, "loggingIntervalSpin"), 1, 1000, 3},
      {Child<QSpinBox>(fresh, "digitsSpin"), 0, 15, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Field->objectName().toStdString());
    EXPECT_EQ(c.Field->minimum(), c.Min);
    EXPECT_EQ(c.Field->maximum(), c.Max);
    EXPECT_EQ(c.Field->value(), c.Default);
  }
  EXPECT_EQ(fresh.PenColor(), 0xFF0000);
  EXPECT_EQ(Child<QLabel>(fresh, "fullScaleLabel")->text(), QStringLiteral("0 ... 50"));
  EXPECT_EQ(Child<QLineEdit>(fresh, "nameEdit")->text(), QStringLiteral("Название"));
  EXPECT_EQ(Child<QPlainTextEdit>(fresh, "commentsEdit")->toPlainText(), QStringLiteral("Комментарии"));
}

TEST_F(NetWindowTest, DigitsTakeEffectAtOnceAndStayAfterCancel) {
  r3->SetDigits(4);
  r3->SetZero(5);
  TNetForm& form = Open(true);
  form.SelectNode(r3);
  const int entries = r3->Count();

  auto answer = WhenModal<TRegisterPropertiesForm>([&](TRegisterPropertiesForm* d) {
    EXPECT_EQ(r3->Count(), entries) << "loading the dialog reads nothing";
    ClickTab(Child<QTabWidget>(*d, "pageTabs"), QStringLiteral("Прочее"));
    QTest::keyClick(Child<QSpinBox>(*d, "digitsSpin"), Qt::Key_Up);
    QTest::keyClick(Child<QSpinBox>(*d, "digitsSpin"), Qt::Key_Up);
    EXPECT_EQ(r3->Digits(), 6);
    EXPECT_EQ(r3->Count(), entries + 2) << "each step updates the register";
    // Typed digits are refused: the arrows alone change the field.
    TypeOver(Child<QSpinBox>(*d, "digitsSpin"), QStringLiteral("9"));
    EXPECT_EQ(d->Digits(), 6);
    ClickTab(Child<QTabWidget>(*d, "pageTabs"), QStringLiteral("График"));
    TypeOver(Child<QSpinBox>(*d, "zeroSpin"), QStringLiteral("77"));
    Click(Child<QPushButton>(*d, "cancelButton"));
  });
  DoubleClickItem(Tree(form), Item(r3));

  ASSERT_EQ(answer->Seen, 1);
  EXPECT_EQ(r3->Digits(), 6);
  EXPECT_EQ(r3->Zero(), 5);
}

TEST_F(NetWindowTest, PenColourComesFromTheColourDialog) {
  TNetForm& form = Open(true);
  form.SelectNode(r3);
  ASSERT_EQ(r3->PenColor(), 0xFF0000);

  int colourDialogs = 0;
  auto answer = WhenModal<TRegisterPropertiesForm>([&](TRegisterPropertiesForm* d) {
    ClickTab(Child<QTabWidget>(*d, "pageTabs"), QStringLiteral("График"));
    // Cancelled: the swatch keeps its colour.
    auto cancel = WhenModal<QColorDialog>([&](QColorDialog* c) {
      ++colourDialogs;
      EXPECT_EQ(c->currentColor(), QColor(0, 0, 255));
      c->setCurrentColor(QColor(1, 2, 3));
      c->reject();
    });
    Click(Child<TColorSwatch>(*d, "penColorSwatch"));
    EXPECT_EQ(d->PenColor(), 0xFF0000);
    auto choose = WhenModal<QColorDialog>([&](QColorDialog* c) {
      ++colourDialogs;
      c->setCurrentColor(QColor(0x12, 0x34, 0x56));
      c->accept();
    });
    Click(Child<TColorSwatch>(*d, "penColorSwatch"));
    EXPECT_EQ(d->PenColor(), 0x563412);
    EXPECT_EQ(r3->PenColor(), 0xFF0000) << "stored only by OK";
    Click(Child<QPushButton>(*d, "okButton"));
  });
  DoubleClickItem(Tree(form), Item(r3));

  ASSERT_EQ(answer->Seen, 1);
  EXPECT_EQ(colourDialogs, 2);
  EXPECT_EQ(r3->PenColor(), 0x563412);
}

// ---- pictures for the documentation ---------------------------------------------------------------

TEST_F(NetWindowTest, Screenshots) {
  const QString dir = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
  QDir().mkpath(dir);
  Net()->SetCaption(QStringLiteral("Сеть"));
  TNetForm& form = Open(true);
  form.SelectNode(r3);
  QTest::qWait(100);
  EXPECT_TRUE(form.grab().save(dir + QStringLiteral("/net-window.png")));

  TRootPropertiesForm node;
  node.SetNode(channel);
  ASSERT_TRUE(ShowExposed(&node));
  QTest::qWait(100);
  EXPECT_TRUE(node.grab().save(dir + QStringLiteral("/node-properties.png")));

  TRegisterPropertiesForm reg(Current());
  reg.SetRegister(r3);
  ASSERT_TRUE(ShowExposed(&reg));
  ClickTab(Child<QTabWidget>(reg, "pageTabs"), QStringLiteral("График"));
  QTest::qWait(100);
  EXPECT_TRUE(reg.grab().save(dir + QStringLiteral("/register-properties.png")));
}

}  // namespace
}  // namespace vexa::test
