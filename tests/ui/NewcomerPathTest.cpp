// A commissioning engineer's first session with the whole program, as the operator goes through it:
// an empty folder, the network opened with the password, channel templates made for the regulators
// of the simulated line, a fresh search, a diagram page, the state saved, and all of it back after a
// restart in the same folder.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <memory>

#include "core/Network.h"
#include "core/SetupNode.h"
#include "core/SimulatedNetwork.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/app/Program.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/config/NetUnit.h"
#include "ui/config/PasswordUnit.h"
#include "ui/config/RegistryUnit.h"
#include "ui/config/SetupUnit.h"

namespace vexa::test {
namespace {

// The register templates the engineer types in, per simulated channel type.
const QStringList kTemplateCaptions[] = {{QStringLiteral("Температура"), QStringLiteral("Уставка")},
                                         {QStringLiteral("Давление")}};

QString Digits3(int value) {
  return QStringLiteral("%1").arg(value, 3, 10, QLatin1Char('0'));
}

void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton);
}

void ClickTool(QToolBar* bar, QAction* action) {
  QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);
}

void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  ASSERT_NE(item, nullptr);
  tree->scrollToItem(item);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

// F2 on the current item, the caption typed over the old one, Enter.
void EditCaption(QTreeWidget* tree, const QString& text) {
  KeyClick(tree, Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(tree->indexWidget(tree->currentIndex()));
  ASSERT_NE(editor, nullptr) << "no caption editor";
  editor->selectAll();
  TypeText(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QTest::qWait(0);  // the editor commits once the key is through
}

// Every leaf below `item` as the path of captions from below it: "Регулятор 000/Канал 000/Уставка".
QStringList Leaves(const QTreeWidgetItem* item, const QString& path = {}) {
  QStringList leaves;
  for (int i = 0; i < item->childCount(); ++i) {
    const QString child = path.isEmpty() ? item->child(i)->text(0) : path + '/' + item->child(i)->text(0);
    leaves << (item->child(i)->childCount() == 0 ? QStringList{child} : Leaves(item->child(i), child));
  }
  return leaves;
}

// The tree a fresh search builds from the templates: every channel the simulated line reports,
// with the register captions of its type's template.
QStringList ExpectedNetwork() {
  QStringList leaves;
  for (int a = 0; SimulatedChannelType(a, 0) >= 0; ++a)
    for (int c = 0; SimulatedChannelType(a, c) >= 0; ++c)
      for (const QString& caption : kTemplateCaptions[SimulatedChannelType(a, c)])
        leaves << QStringLiteral("Регулятор %1/Канал %2/%3").arg(Digits3(a), Digits3(c), caption);
  return leaves;
}

QStringList ExpectedTemplates() {
  QStringList leaves;
  for (int type = 0; type < 2; ++type)
    for (const QString& caption : kTemplateCaptions[type]) leaves << Digits3(type) + '/' + caption;
  return leaves;
}

// "Настройки" → "Открыть сеть для настройки" (the menu item's action), answered with the password.
void OpenNetwork(TMainForm& main) {
  WhenModal<TPasswordDlg>([](TPasswordDlg* d) {
    TypeText(Child<QLineEdit>(*d, "passwordEdit"), QStringLiteral("BrastLun"));
    MouseClick(Child<QPushButton>(*d, "okButton"));
  });
  Child<QAction>(main, "accessAction")->trigger();
  EXPECT_TRUE(main.NetworkOpen());
}

// Ctrl+Shift+Alt and a left click on the key picture of the toolbar.
TRegistryForm* OpenTemplates(TMainForm& main) {
  MouseClick(Child<QLabel>(main, "keyPicture"), Qt::LeftButton,
             Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  auto* window = qobject_cast<TRegistryForm*>(main.Window(TWindowRole::Registry));
  EXPECT_TRUE(window != nullptr && window->isVisible()) << "the templates window did not open";
  return window;
}

// A channel template for `type` with its register templates, made with the window's buttons.
void MakeChannelTemplate(TRegistryForm& w, int type) {
  QTreeWidget* tree = Child<QTreeWidget>(w, "templatesTree");
  ClickItem(tree, tree->topLevelItem(0));
  ClickTool(Child<QToolBar>(w, "toolBar"),
            Child<QAction>(w, "addAction"));  // a channel template behind the others, selected
  EditCaption(tree, Digits3(type));
  for (int i = 0; i < kTemplateCaptions[type].size(); ++i) {
    ClickTool(Child<QToolBar>(w, "toolBar"),
              Child<QAction>(w, "addAction"));  // under the channel template, or beside the register template
    if (i == 0) {
      // The channel template stays selected and open: pick its register template.
      QTreeWidgetItem* channel = tree->currentItem();
      ASSERT_NE(channel, nullptr);
      EXPECT_EQ(channel->text(0), Digits3(type));
      EXPECT_TRUE(channel->isExpanded());
      ClickItem(tree, channel->child(channel->childCount() - 1));
    }
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Шаблон регистра"));
    EditCaption(tree, kTemplateCaptions[type][i]);
  }
}

class NewcomerPathTest : public TVexaTest {
 protected:
  void TearDown() override {
    UseNetwork(nullptr);
    program.reset();
    TVexaTest::TearDown();
  }

  // The program over the test folder with a port of its own, started and its main window shown.
  TMainForm& StartProgram() {
    program = std::make_unique<TProgram>(Dir->path());
    program->InitCore(std::make_unique<TFakeComm>(*Clock));
    UseNetwork(program->Network());
    EXPECT_TRUE(program->Start());
    EXPECT_TRUE(Activate(program->MainForm()));
    return *program->MainForm();
  }

  std::unique_ptr<TProgram> program;
};

TEST_F(NewcomerPathTest, FirstSessionFromAnEmptyFolderComesBackAfterARestart) {
  ASSERT_TRUE(QDir(Dir->path()).isEmpty());
  TMainForm* main = &StartProgram();
  ASSERT_FALSE(
      Child<QAction>(*main, "setupAction")->isEnabled());  // nothing to set before the network is open
  OpenNetwork(*main);

  // The templates for the two channel types of the line, saved to their file.
  TRegistryForm* templates = OpenTemplates(*main);
  ASSERT_NE(templates, nullptr);
  for (int type = 0; type < 2; ++type) MakeChannelTemplate(*templates, type);
  ClickTool(Child<QToolBar>(*templates, "toolBar"), Child<QAction>(*templates, "saveAction"));
  EXPECT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("REGISTRY"))));
  templates->close();
  Messages->Shown.clear();  // the first start's notices: no pages, no port, no speed
  // From here on every message is the real box, answered by the operator's keys and clicks.
  TRealMessageBoxes boxes(TBoxClose::Keys);

  // The settings: a port, simulation, and a fresh search.
  int foundCount = -1;
  // The structure window comes up modally after the search, with the regulators and the channels
  // the templates shaped; the operator looks and closes it.
  QStringList shownNetwork;
  int shownRegulators = -1;
  WhenModal<TSetupForm>([&](TSetupForm* s) {
    Child<QComboBox>(*s, "portBox")->setFocus();
    QTest::keyClick(Child<QComboBox>(*s, "portBox"), Qt::Key_Down);  // COM1
    Click(Child<QCheckBox>(*s, "demoCheckBox"));                     // its notice is acknowledged
    Messages->Answers.push_back(mbYes);                              // the search's warning
    WhenModal<TNetForm>([&](TNetForm* net) {
      if (Child<QTreeWidget>(*net, "networkTree")->topLevelItemCount() == 1) {
        shownNetwork = Leaves(Child<QTreeWidget>(*net, "networkTree")->topLevelItem(0));
        shownRegulators = Child<QTreeWidget>(*net, "networkTree")->topLevelItem(0)->childCount();
      }
      net->close();
    });
    Click(Child<QPushButton>(*s, "searchButton"));
    foundCount = Child<QLabel>(*s, "afreshFoundLabel")->text().toInt();
    Click(Child<QPushButton>(
        *s, "cancelButton"));  // port and simulation have acted already; OK waits for a diagram
  });
  Child<QAction>(*main, "setupAction")->trigger();
  ASSERT_EQ(Messages->Shown.size(), 3u) << Messages->Texts().join(" | ").toStdString();
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith(QStringLiteral("Внимание! Включен режим имитации")));
  EXPECT_TRUE(Messages->Shown[1].Text.startsWith(QStringLiteral("Внимание! Это действие")));
  EXPECT_TRUE(Messages->Shown[2].Text.startsWith(QStringLiteral("Найдено регуляторов: ")));  // the report
  EXPECT_TRUE(Settings()->Demo());

  auto* net = qobject_cast<TNetForm*>(main->Window(TWindowRole::NetTree));
  ASSERT_NE(net, nullptr);
  ASSERT_EQ(Child<QTreeWidget>(*net, "networkTree")->topLevelItemCount(), 1);
  const QStringList expected = ExpectedNetwork();
  EXPECT_EQ(shownNetwork, expected);
  EXPECT_EQ(Leaves(Child<QTreeWidget>(*net, "networkTree")->topLevelItem(0)), expected);
  EXPECT_EQ(foundCount, shownRegulators);
  EXPECT_GE(foundCount, 2);

  // "Файл" → "Сохранить состояние сети".
  Child<QAction>(*main, "saveAction")->trigger();
  EXPECT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("NET"))));
  EXPECT_EQ(Messages->Shown.size(), 3u) << Messages->Texts().join(" | ").toStdString();

  // A diagram page: the picture from the file dialog, its name typed in, "ОК". The program then
  // asks for a restart and closes its main window; the state was saved just now.
  const QString picture = QDir(Dir->path()).filePath(QStringLiteral("ceh.png"));
  QImage image(120, 80, QImage::Format_RGB32);
  image.fill(Qt::white);
  ASSERT_TRUE(image.save(picture));
  WhenModal<TSetupForm>([&](TSetupForm* s) {
    QTest::mouseClick(Child<QTabWidget>(*s, "pageTabs")->tabBar(), Qt::LeftButton, {},
                      Child<QTabWidget>(*s, "pageTabs")->tabBar()->tabRect(1).center());
    WhenModal<QFileDialog>([picture](QFileDialog* d) {
      d->selectFile(picture);
      QMetaObject::invokeMethod(d, "accept");  // as its "Open" button does
    });
    Click(Child<QPushButton>(*s, "addButton"));
    auto* name = qobject_cast<QLineEdit*>(
        Child<QTreeWidget>(*s, "diagramList")
            ->indexWidget(Child<QTreeWidget>(*s, "diagramList")->model()->index(0, 0)));
    if (name != nullptr) {
      name->selectAll();
      TypeText(name, QStringLiteral("Цех 1"));
      QTest::keyClick(name, Qt::Key_Return);
      QTest::qWait(0);
    } else {
      ADD_FAILURE() << "the new page's name is not being edited";
    }
    Messages->Answers = {mbOK, mbNo};  // the restart notice; the close question
    Click(Child<QPushButton>(*s, "okButton"));
    if (s->isVisible()) s->reject();  // never leave the test inside the dialog
  });
  Child<QAction>(*main, "setupAction")->trigger();
  QTest::qWait(50);  // the main window closes from the event loop
  EXPECT_FALSE(main->isVisible());
  ASSERT_EQ(Messages->Shown.size(), 5u) << Messages->Texts().join(" | ").toStdString();
  EXPECT_EQ(Messages->Shown[4].Text, QStringLiteral("Сохранить текущее состояние сети?"));
  EXPECT_EQ(boxes.Answered, 5);

  // The end of the program, and a new start in the same folder.
  program->Shutdown();
  EXPECT_EQ(program->Network(), nullptr);
  UseNetwork(nullptr);
  Messages->Shown.clear();
  main = &StartProgram();
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join(" | ").toStdString();
  EXPECT_EQ(main->ProgramState(), QStringLiteral("Работа"));
  EXPECT_TRUE(Settings()->Demo());
  ASSERT_EQ(Child<QTabWidget>(*main, "diagramPages")->count(), 1);
  EXPECT_EQ(Child<QTabWidget>(*main, "diagramPages")->tabText(0), QStringLiteral("Цех 1"));

  // "Инструменты" → "Структура сети": the restored tree.
  Child<QAction>(*main, "networkTreeAction")->trigger();
  net = qobject_cast<TNetForm*>(main->Window(TWindowRole::NetTree));
  ASSERT_NE(net, nullptr);
  EXPECT_TRUE(net->isVisible());
  ASSERT_EQ(Child<QTreeWidget>(*net, "networkTree")->topLevelItemCount(), 1);
  EXPECT_EQ(Leaves(Child<QTreeWidget>(*net, "networkTree")->topLevelItem(0)), expected);

  // The templates, read from their file when their window opens.
  OpenNetwork(*main);
  templates = OpenTemplates(*main);
  ASSERT_NE(templates, nullptr);
  ASSERT_EQ(Child<QTreeWidget>(*templates, "templatesTree")->topLevelItemCount(), 1);
  EXPECT_EQ(Leaves(Child<QTreeWidget>(*templates, "templatesTree")->topLevelItem(0)), ExpectedTemplates());
  templates->close();
}

}  // namespace
}  // namespace vexa::test
